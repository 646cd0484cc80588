// The main window's transport, end-of-track handling and time display.
#include "FrmPlayer.h"
#include "Names.h"
#include "NextTrack.h"

#include "LineControl.h"
#include "MediaComponent.h"
#include "Prompts.h"
#include "SeekBar.h"

#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include <cmath>

namespace {

const QString kResetTime = QStringLiteral("00:00:00");

const QString kModeCaptions[] = {QStringLiteral("随机循环"), QStringLiteral("单曲循环"), QStringLiteral("全部循环"),
                                 QStringLiteral("顺序循环")};

// Seconds as a 16-bit whole number, rounded half to even; false when out of range.
bool toWholeSeconds(double seconds, int *whole)
{
    if (!std::isfinite(seconds))
        return false;
    const double rounded = std::nearbyint(seconds); // the default rounding mode is half to even
    if (rounded < -32768 || rounded > 32767)
        return false;
    *whole = int(rounded);
    return true;
}

} // namespace

void FrmPlayer::setPlayingEntry(int index)
{
    if (index == m_playingEntry)
        return;
    m_playingEntry = index;
    emit currentEntryChanged();
}

void FrmPlayer::playEntry(int index)
{
    setPlayingEntry(index);
    m_services.media->setUrl(m_playlist.urlAt(index));
}

int FrmPlayer::currentEntry() const
{
    // Play starts the first entry without selecting it; the playing entry is
    // then the place to go on from, so that it is not played twice.
    const int selection = listName->currentRow();
    return selection >= 0 ? selection : m_playingEntry;
}

// Playback has stopped: no entry is playing any more.
void FrmPlayer::resetDisplay(const QString &status)
{
    setPlayingEntry(-1);
    lblTotletime->setText(kResetTime);
    lblTime->setText(kResetTime);
    lineFront->setX2(lineFront->x1());
    lblCurrent->setText(status);
}

void FrmPlayer::setLoopCaption()
{
    if (m_state.playMode >= 0 && m_state.playMode <= 3)
        lblLoop->setText(kModeCaptions[m_state.playMode]);
}

void FrmPlayer::imgPlay_Click()
{
    if (m_state.isPaused) {
        m_services.media->play();
        timerDisplay->start();
        timerTotle->start();
        m_state.isPaused = false;
        emit playStateChanged();
    } else if (m_playlist.count() > 0) {
        const int selection = listName->currentRow();
        if (selection < 0) {
            // The first entry plays; the list keeps showing no selection.
            playEntry(0);
            timerTotle->start();
            timerDisplay->start();
        } else {
            playEntry(selection);
        }
    } else {
        // Play counts from the press, before the box: a stop that comes while
        // the box is open stands.
        m_state.stoppedByUser = false;
        m_state.msgAnswer = qint16(m_services.prompts->message(this, QStringLiteral("播放错误:"),
                                                               QStringLiteral("播放列表为空，请添加曲目！"),
                                                               Prompts::OkCancel, Prompts::Warning));
        if (m_state.msgAnswer == Prompts::AnswerOk)
            AddFiles();
        return;
    }
    m_state.stoppedByUser = false;
}

void FrmPlayer::imgPause_Click()
{
    if (!m_state.isPaused) {
        m_services.media->pause();
        lblCurrent->setText(Names::kStatusPaused);
        timerDisplay->stop();
        timerTotle->stop();
        m_state.isPaused = true;
    } else {
        m_services.media->play();
        timerTotle->start();
        timerDisplay->start();
        m_state.isPaused = false;
    }
    emit playStateChanged();
}

void FrmPlayer::imgStop_Click()
{
    // Before the stop itself, so that its notification does not advance.
    m_state.stoppedByUser = true;
    m_services.media->stop();
    if (m_playlist.count() > 0)
        listName->setCurrentRow(-1);
    resetDisplay(Names::kStatusStopped);
}

void FrmPlayer::stepToEntry(int step)
{
    const int count = m_playlist.count();
    if (count == 0) {
        m_services.prompts->message(this, QStringLiteral("操作错误:"), QStringLiteral("播放列表空，请添加曲目！"),
                                    Prompts::Ok, Prompts::Warning);
        return;
    }
    const int current = currentEntry();
    if (current == (step > 0 ? count - 1 : 0)) {
        m_services.prompts->message(this, QStringLiteral("播放错误:"),
                                    step > 0 ? QStringLiteral("已是尾纪录！") : QStringLiteral("已是首纪录！"),
                                    Prompts::Ok, Prompts::Warning);
        return;
    }
    // With no entry to go on from, both directions start at the first.
    const int target = current < 0 ? 0 : current + step;
    listName->setCurrentRow(target);
    playEntry(target);
}

void FrmPlayer::imgNext_Click()
{
    stepToEntry(+1);
}

void FrmPlayer::imgPrev_Click()
{
    stepToEntry(-1);
}

void FrmPlayer::listName_DblClick()
{
    const int selection = listName->currentRow();
    if (selection < 0)
        return; // no entry to play
    playEntry(selection);
    timerTotle->start();
}

// The step buttons' names are swapped against their pictures: "Stepback"
// goes forward, "Stepfront" goes back. The component bounds the result.
void FrmPlayer::imgStepback_Click()
{
    m_services.media->setCurrentPosition(m_services.media->currentPosition() + 10);
    emit positionJumped();
}

void FrmPlayer::imgStepfront_Click()
{
    m_services.media->setCurrentPosition(m_services.media->currentPosition() - 10);
    emit positionJumped();
}

void FrmPlayer::imgLoop_Click()
{
    if (m_state.playMode < 0 || m_state.playMode > 3)
        return;
    m_state.playMode = qint16((m_state.playMode + 1) % 4);
    setLoopCaption();
    emit playModeChanged();
}

void FrmPlayer::wmp_StatusChange()
{
    MediaComponent *media = m_services.media;
    const int state = media->playState();
    if (state == MediaComponent::Playing) {
        lblTotletime->setText(media->durationString());
        m_failedEnds = 0;
    }
    if (m_state.stoppedByUser)
        return;
    const int count = m_playlist.count();
    if (state != MediaComponent::Stopped || count == 0)
        return;

    if (m_state.endPhase == 2) {
        // The component has opened the entry chosen on the previous notification.
        media->play();
        m_state.endPhase = 1;
        return;
    }

    // A list in which every entry fails stops after one pass instead of spinning.
    if (media->lastEndWasError() && ++m_failedEnds >= count) {
        m_failedEnds = 0;
        media->stop();
        listName->setCurrentRow(-1);
        resetDisplay(Names::kStatusStopped);
        return;
    }
    advanceAtEnd(false);
}

void FrmPlayer::wmp_MediaChange()
{
    // The track before it has ended: an end like any other for the play mode,
    // only without the engine's stop.
    m_failedEnds = 0;
    advanceAtEnd(true);
}

void FrmPlayer::advanceAtEnd(bool started)
{
    MediaComponent *media = m_services.media;
    const int selection = listName->currentRow();
    const int next = m_nextTrack->take();
    if (next == NextTrack::kNone)
        return;
    if (next == NextTrack::kStop) {
        media->stop();
        listName->setCurrentRow(-1);
        resetDisplay(Names::kStatusStopped);
        return;
    }
    if (m_state.playMode != 1 || selection >= 0)
        listName->setCurrentRow(next);
    if (started && media->url() == m_playlist.urlAt(next)) {
        // The queued track is the one chosen: the window follows it.
        setPlayingEntry(next);
        lblTotletime->setText(media->durationString());
        timerDisplay_Timer();
        timerTotle_Timer();
        emit trackInfoChanged();
        emit positionJumped();
    } else if (started) {
        // A change came too late to hold back the queued track: the rule
        // wins, as a double-click on its choice would.
        playEntry(next);
    } else {
        playEntry(next);
        media->play();
        m_state.endPhase = 2;
    }
}

void FrmPlayer::wmp_DurationChange()
{
    // While a track is shown; after a stop the label keeps its reset text.
    const int state = m_services.media->playState();
    if (state == MediaComponent::Playing || state == MediaComponent::Paused)
        lblTotletime->setText(m_services.media->durationString());
    emit trackInfoChanged();
}

void FrmPlayer::timerDisplay_Timer()
{
    if (m_services.media->playState() == MediaComponent::Playing)
        lblCurrent->setText(Names::kStatusPlaying + m_services.media->currentMediaName());
}

void FrmPlayer::timerTotle_Timer()
{
    MediaComponent *media = m_services.media;
    if (media->playState() != MediaComponent::Playing)
        return;
    // One look at the engine's clock serves the time and the line.
    const double seconds = media->currentPosition();
    lblTime->setText(MediaComponent::timeText(seconds));
    int position = 0;
    int length = 0;
    if (toWholeSeconds(seconds, &position) && toWholeSeconds(media->duration(), &length) && length > 0) {
        const double share = std::clamp(double(position) / length, 0.0, 1.0);
        lineFront->setX2(lineFront->x1() + share * SeekBar::kFullScale);
    } else {
        // No length to measure against: the line stays at its start.
        lineFront->setX2(lineFront->x1());
    }
}

void FrmPlayer::Picture1_MouseDown(Qt::MouseButton, double xTwips)
{
    MediaComponent *media = m_services.media;
    if (media->playState() != MediaComponent::Playing)
        return;
    media->setCurrentPosition(xTwips * media->duration() / SeekBar::kFullScale);
    emit positionJumped();
}
