// The main window's volume, mute, speed and channel controls.
#include "FrmPlayer.h"

#include "LineControl.h"
#include "MediaComponent.h"

#include <QLabel>

#include <cmath>

namespace {

const QColor kNormal(192, 192, 255);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

// Each 10 steps of volume are 6 px of bar, growing to the left by 2.5 px.
// Placed from the volume itself, so half pixels never add up to drift.
void placeVolumeBar(QWidget *bar, int volume)
{
    const double width = 35 + 0.6 * (volume - 50);
    const double left = 272 - 0.25 * (volume - 50);
    bar->setGeometry(int(std::lround(left)), bar->y(), int(std::lround(width)), bar->height());
}

void setCaption(QLabel *label, const QString &text, const QColor &colour)
{
    label->setText(text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

void FrmPlayer::imgSoundup_Click()
{
    MediaComponent *media = m_services.media;
    media->setVolume(media->volume() + 10);
    placeVolumeBar(imgSound, media->volume());
    emit volumeChanged();
}

void FrmPlayer::imgSounddown_Click()
{
    MediaComponent *media = m_services.media;
    media->setVolume(media->volume() - 10);
    placeVolumeBar(imgSound, media->volume());
    emit volumeChanged();
}

void FrmPlayer::imgMute1_Click()
{
    muteOn = !muteOn;
    m_services.media->setMute(muteOn);
    lineMute->setVisible(muteOn);
}

namespace {

void showSpeed(QLabel *label, int steps)
{
    if (steps == 0)
        setCaption(label, QStringLiteral("原速度"), kNormal);
    else if (steps < 0)
        setCaption(label, QStringLiteral("慢速 ") + QString::number(-steps), kGreen);
    else
        setCaption(label, QStringLiteral("快速 ") + QString::number(steps), kRed);
}

} // namespace

void FrmPlayer::imgSpeedup_Click()
{
    MediaComponent *media = m_services.media;
    if (!media->setRate(media->rate() + 0.1))
        return; // beyond what the engine plays: the caption keeps telling the truth
    ++speedStep;
    showSpeed(lblSpeed, speedStep);
    emit rateChanged();
}

void FrmPlayer::imgSpeeddown_Click()
{
    MediaComponent *media = m_services.media;
    if (!media->setRate(media->rate() - 0.1))
        return;
    --speedStep;
    showSpeed(lblSpeed, speedStep);
    emit rateChanged();
}

void FrmPlayer::imgSpeed0_Click()
{
    m_services.media->setRate(1.0);
    speedStep = 0;
    showSpeed(lblSpeed, speedStep);
    emit rateChanged();
}

void FrmPlayer::lblCsc_Click()
{
    MediaComponent *media = m_services.media;
    switch (channelMode) {
    case 0:
        media->setBalance(-100);
        setCaption(lblCsc, QStringLiteral("左声道"), kGreen);
        channelMode = 1;
        break;
    case 1:
        media->setBalance(100);
        setCaption(lblCsc, QStringLiteral("右声道"), kRed);
        channelMode = 2;
        break;
    default:
        media->setBalance(0);
        setCaption(lblCsc, QStringLiteral("立体声"), kNormal);
        channelMode = 0;
        break;
    }
}
