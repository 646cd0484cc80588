// Volume, mute, speed and channel controls: what the media component is told
// and what the bar and captions show; the channel choice on real audio too.
#include "PlayerFixture.h"

#include "GstMediaComponent.h"
#include "ImageButton.h"
#include "LineControl.h"
#include "Mp3Fixture.h"

#include <QFile>
#include <QLabel>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

const QColor kNormal(192, 192, 255);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

struct Bar
{
    int volume;
    int left;
    int width;
};

// The bar for each volume: 6 px per 10 steps, growing 2.5 px to the left;
// half pixels round away from the start position.
const Bar kBars[] = {{0, 285, 5},   {10, 282, 11}, {20, 280, 17}, {30, 277, 23}, {40, 275, 29}, {50, 272, 35},
                     {60, 270, 41}, {70, 267, 47}, {80, 265, 53}, {90, 262, 59}, {100, 260, 65}};

Bar barFor(int volume)
{
    return kBars[volume / 10];
}

struct ChannelLevels
{
    double left = 0;
    double right = 0;
    int frames = 0;
};

// RMS of each channel of a 16-bit stereo WAV file.
ChannelLevels levelsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    // Walk the chunks to "data"; wavenc writes a plain 44-byte header, but need not.
    qsizetype at = 12;
    while (at + 8 <= bytes.size() && bytes.mid(at, 4) != "data")
        at += 8 + qFromLittleEndian<quint32>(bytes.constData() + at + 4);
    if (at + 8 > bytes.size())
        return {};
    const qsizetype start = at + 8;
    const qsizetype end =
        std::min<qsizetype>(bytes.size(), start + qFromLittleEndian<quint32>(bytes.constData() + at + 4));
    ChannelLevels levels;
    double left = 0;
    double right = 0;
    for (qsizetype i = start; i + 4 <= end; i += 4) {
        const double l = qFromLittleEndian<qint16>(bytes.constData() + i);
        const double r = qFromLittleEndian<qint16>(bytes.constData() + i + 2);
        left += l * l;
        right += r * r;
        ++levels.frames;
    }
    if (levels.frames > 0) {
        levels.left = std::sqrt(left / levels.frames);
        levels.right = std::sqrt(right / levels.frames);
    }
    return levels;
}

} // namespace

class SoundTest : public QObject
{
    Q_OBJECT

private:
    QWidget *bar(PlayerFixture &player)
    {
        return player.window->findChild<QWidget *>(QStringLiteral("imgSound"));
    }
    void checkBar(PlayerFixture &player, int volume)
    {
        const Bar expected = barFor(volume);
        QCOMPARE(player.media.volume(), volume);
        QCOMPARE(bar(player)->x(), expected.left);
        QCOMPARE(bar(player)->width(), expected.width);
    }
    QColor colourOf(QLabel *label) { return label->palette().color(QPalette::WindowText); }
    void checkCaption(QLabel *label, const QString &text, const QColor &colour)
    {
        QCOMPARE(label->text(), text);
        QCOMPARE(colourOf(label), colour);
    }

private slots:
    void volumeDown_fivePresses_reachSilenceAndNarrowestBar_sixthChangesNothing()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        checkBar(player, 50);
        const int top = bar(player)->y();
        for (int volume = 40; volume >= 0; volume -= 10) {
            player.click("imgSounddown");
            checkBar(player, volume);
        }
        player.click("imgSounddown");
        checkBar(player, 0);
        QCOMPARE(bar(player)->y(), top);
    }

    void volumeUp_fivePresses_reachFullAndWidestBar_sixthChangesNothing()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        for (int volume = 60; volume <= 100; volume += 10) {
            player.click("imgSoundup");
            checkBar(player, volume);
        }
        player.click("imgSoundup");
        checkBar(player, 100);
        // And all the way back: no half pixel is lost on the way.
        player.click("imgSounddown", 10);
        checkBar(player, 0);
        player.click("imgSoundup", 5);
        checkBar(player, 50);
    }

    void volume_changedElsewhere_barFollowsTheVolumeOnNextPress()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.media.setVolume(95);
        player.click("imgSoundup");
        checkBar(player, 100);
        player.media.setVolume(5);
        player.click("imgSounddown");
        checkBar(player, 0);
    }

    void mute_thenVolumeUp_thenUnmute_volumeAndMuteStayIndependent()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        auto *line = player.window->findChild<LineControl *>(QStringLiteral("lineMute"));
        QVERIFY(line);
        QVERIFY(line->isHidden());

        player.click("imgMute1");
        QVERIFY(player.media.mute());
        QVERIFY(!line->isHidden());
        player.click("imgSoundup");
        QVERIFY(player.media.mute());
        player.click("imgMute1");
        QVERIFY(!player.media.mute());
        QVERIFY(line->isHidden());
        checkBar(player, 60);
    }

    void speed_fasterTwiceSlowerOnceThenNormal_captionsColoursAndRate()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        QLabel *speed = player.label("lblSpeed");
        player.click("imgSpeedup", 2);
        checkCaption(speed, QStringLiteral("快速 2"), kRed);
        QCOMPARE(player.media.rate(), 1.2);
        player.click("imgSpeeddown");
        checkCaption(speed, QStringLiteral("快速 1"), kRed);
        player.click("imgSpeed0");
        checkCaption(speed, QStringLiteral("原速度"), kNormal);
        QCOMPARE(player.media.rate(), 1.0);

        player.click("imgSpeeddown");
        checkCaption(speed, QStringLiteral("慢速 1"), kGreen);
        player.click("imgSpeeddown", 2);
        checkCaption(speed, QStringLiteral("慢速 3"), kGreen);
        QVERIFY(std::abs(player.media.rate() - 0.7) < 1e-9);
        player.click("imgSpeedup", 3);
        checkCaption(speed, QStringLiteral("原速度"), kNormal);
    }

    void speed_refusedRate_keepsCaptionAndStepCount()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        QLabel *speed = player.label("lblSpeed");
        player.click("imgSpeedup");
        player.media.refuseRates(true);
        player.click("imgSpeedup");
        player.click("imgSpeeddown", 3);
        checkCaption(speed, QStringLiteral("快速 1"), kRed);
        player.media.refuseRates(false);
        // One step back from "faster 1" is normal only if no refused press counted.
        player.click("imgSpeeddown");
        checkCaption(speed, QStringLiteral("原速度"), kNormal);
    }

    void speed_realComponent_slowestIsNineStepsDown()
    {
        PlayerFixture fakes;
        GstMediaComponent media(QStringLiteral("fakesink"));
        PlayerServices services = fakes.services;
        services.media = &media;
        FrmPlayer window(services);
        QVERIFY(window.load());
        auto *down = window.findChild<ImageButton *>(QStringLiteral("imgSpeeddown"));
        for (int i = 0; i < 12; ++i)
            QTest::mouseClick(down, Qt::LeftButton);
        // 0.1 is the last rate above the engine's floor of 0.05.
        checkCaption(window.findChild<QLabel *>(QStringLiteral("lblSpeed")), QStringLiteral("慢速 9"),
                     kGreen);
        QVERIFY(std::abs(media.rate() - 0.1) < 1e-9);
    }

    void channel_cycle_captionsColoursAndBalance_speedLabelKeepsItsColour()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        QLabel *channel = player.label("lblCsc");
        QLabel *speed = player.label("lblSpeed");
        player.click("imgSpeedup");

        QTest::mouseClick(channel, Qt::LeftButton);
        checkCaption(channel, QStringLiteral("左声道"), kGreen);
        QCOMPARE(player.media.balance(), -100);
        QTest::mouseClick(channel, Qt::LeftButton);
        checkCaption(channel, QStringLiteral("右声道"), kRed);
        QCOMPARE(player.media.balance(), 100);
        QTest::mouseClick(channel, Qt::LeftButton);
        checkCaption(channel, QStringLiteral("立体声"), kNormal);
        QCOMPARE(player.media.balance(), 0);
        QTest::mouseClick(channel, Qt::LeftButton);
        checkCaption(channel, QStringLiteral("左声道"), kGreen);

        checkCaption(speed, QStringLiteral("快速 1"), kRed);
    }

    void channel_realComponent_silencesTheOtherSide_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<bool>("leftOnly");
        QTest::newRow("left") << 1 << true;
        QTest::newRow("right") << 2 << false;
    }

    void channel_realComponent_silencesTheOtherSide()
    {
        QFETCH(int, clicks);
        QFETCH(bool, leftOnly);
        PlayerFixture fakes;
        const QString mp3 = fakes.dir.filePath(QStringLiteral("tone.mp3"));
        QVERIFY(Mp3Fixture::make(mp3, 1));
        const QString wav = fakes.dir.filePath(QStringLiteral("out.wav"));
        // No clock in a file sink: the second of audio is decoded at full speed.
        GstMediaComponent media(
            QStringLiteral("audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink location=") + wav);
        bool ended = false;
        bool played = false;
        connect(&media, &MediaComponent::statusChange, this, [&] {
            played = played || media.playState() == MediaComponent::Playing;
            ended = ended || (played && media.playState() == MediaComponent::Stopped);
        });
        PlayerServices services = fakes.services;
        services.media = &media;
        FrmPlayer window(services);
        QVERIFY(window.load());
        window.state().playMode = 3; // in order: the one entry plays once
        fakes.prompts.chooseFilesNext({mp3});
        QTest::mouseClick(window.findChild<ImageButton *>(QStringLiteral("imgAdd")), Qt::LeftButton);
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(window.findChild<QLabel *>(QStringLiteral("lblCsc")), Qt::LeftButton);
        QCOMPARE(media.balance(), leftOnly ? -100 : 100);

        QTest::mouseClick(window.findChild<ImageButton *>(QStringLiteral("imgPlay")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);

        const ChannelLevels levels = levelsOf(wav);
        QVERIFY2(levels.frames > 40000, qPrintable(QStringLiteral("%1 frames").arg(levels.frames)));
        const double heard = leftOnly ? levels.left : levels.right;
        const double silent = leftOnly ? levels.right : levels.left;
        QVERIFY2(heard > 1000 && silent < heard / 100,
                 qPrintable(QStringLiteral("left %1, right %2").arg(levels.left).arg(levels.right)));
    }
};

QTEST_MAIN(SoundTest)
#include "test_sound.moc"
