#include "LyricsController.h"

#include "DesktopLyrics.h"
#include "FrmPlayer.h"
#include "PlayerSettings.h"

#include "LyricsFinder.h"
#include "MediaComponent.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>
#include <QUrl>

#include <cmath>

namespace {

const QString kShown = QStringLiteral("lyrics/shown");
const QString kLocked = QStringLiteral("lyrics/locked");
const QString kFontSize = QStringLiteral("lyrics/fontSize");
const QString kLeft = QStringLiteral("lyrics/x");
const QString kTop = QStringLiteral("lyrics/y");
const QString kWidth = QStringLiteral("lyrics/width");
constexpr int kMaxCoordinate = 100000;

// The engine's position is read again after this long; in between, the clock runs it on.
constexpr qint64 kResyncMs = 1000;
// A jump reaches the engine a moment after it was asked for.
constexpr int kJumpSettleMs = 100;
// Unsynced lyrics move on a line at a time.
constexpr int kUnsyncedTickMs = 500;
// With nothing to fill, the next look comes at the next line, or after this long.
constexpr int kIdleTickMs = 1000;
// Each repaint of the window costs about what playing a tenth of a second of
// sound does: the fill moves at most this often, several characters at a
// time when they are sung faster.
constexpr int kMinStepMs = 500;
// A character counts as begun a little before its time, so that the look at
// its time is not a millisecond early.
constexpr double kCharSlack = 1e-6;

// The file a media path names: a path, or a file:// URL; empty for anything else.
QString localFileOf(const QString &url)
{
    if (url.startsWith(QLatin1Char('/')))
        return url;
    const QUrl parsed(url);
    if (parsed.isLocalFile())
        return parsed.toLocalFile();
    return parsed.scheme().size() > 1 ? QString() : url;
}

} // namespace

LyricsController::LyricsController(FrmPlayer *player, PlayerSettings *settings)
    : QObject(player), m_player(player), m_settings(settings), m_finder(new LyricsFinder(this)),
      // Of no window: it stays while the main window gives way to the mini window.
      m_window(new DesktopLyrics), m_showItem(new QAction(QStringLiteral("桌面歌词"), this)),
      m_lockItem(new QAction(QStringLiteral("锁定桌面歌词"), this))
{
    setObjectName(QStringLiteral("LyricsController"));
    m_window->setFontSize(m_settings->integer(kFontSize, DesktopLyrics::kDefaultFontSize,
                                              DesktopLyrics::kMinFontSize, DesktopLyrics::kMaxFontSize));
    m_window->setLocked(m_settings->flag(kLocked, false));
    placeWindow();

    for (QAction *item : {m_showItem, m_lockItem}) {
        item->setObjectName(item->text());
        item->setCheckable(true);
        player->addMenuItem(item);
    }
    m_showItem->setChecked(m_settings->flag(kShown, true));
    m_lockItem->setChecked(m_window->isLocked());
    connect(m_showItem, &QAction::toggled, this, &LyricsController::setWanted);
    connect(m_lockItem, &QAction::toggled, this, &LyricsController::setLocked);

    connect(m_window, &DesktopLyrics::closeRequested, this, [this] { setWanted(false); });
    connect(m_window, &DesktopLyrics::lockRequested, this, &LyricsController::setLocked);
    connect(m_window, &DesktopLyrics::fontSizeRequested, this, &LyricsController::setFontSize);
    connect(m_window, &DesktopLyrics::placeChanged, this, &LyricsController::savePlace);

    connect(player, &FrmPlayer::playStateChanged, this, &LyricsController::followTrack);
    connect(player, &FrmPlayer::currentEntryChanged, this, &LyricsController::followTrack);
    connect(player, &FrmPlayer::trackInfoChanged, this, &LyricsController::followTags);
    for (auto jump : {&FrmPlayer::positionJumped, &FrmPlayer::rateChanged}) {
        connect(player, jump, this, [this] {
            anchor();
            tick();
            m_resync.start();
        });
    }
    if (MediaComponent *media = player->media())
        connect(media, &MediaComponent::mediaChanged, this, &LyricsController::followTrack);
    connect(m_finder, &LyricsFinder::found, this, &LyricsController::takeFound);

    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &LyricsController::tick);
    m_resync.setSingleShot(true);
    m_resync.setInterval(kJumpSettleMs);
    connect(&m_resync, &QTimer::timeout, this, [this] {
        anchor();
        tick();
    });
    followTrack();
}

LyricsController::~LyricsController()
{
    delete m_window;
}

bool LyricsController::isWanted() const
{
    return m_showItem->isChecked();
}

void LyricsController::followTrack()
{
    MediaComponent *media = m_player->media();
    // Every stop but the one between two tracks leaves no entry playing.
    const QString url = media && m_player->playingEntry() >= 0 ? media->url() : QString();
    if (url != m_url) {
        m_url = url;
        ++m_request;
        m_lyrics = Lyrics();
        m_file.clear();
        m_line = m_timedLine = -2;
        m_tagText = url.isEmpty() ? QString() : media->tags().lyrics;
        m_tagTextAsked = m_tagText;
        m_searching = !url.isEmpty();
        emit lyricsChanged(url, QString());
        if (m_searching)
            m_finder->find(m_request, localFileOf(url), m_tagText);
    }
    anchor();
    updateWindow();
}

void LyricsController::followTags()
{
    // The engine may tell the tags of a track before its start is reported.
    followTrack();
    if (m_url.isEmpty())
        return;
    m_tagText = m_player->media()->tags().lyrics;
    // A lyrics file wins over the tags; they are read once the search found none.
    if (!m_searching && m_file.isEmpty() && m_tagText != m_tagTextAsked) {
        m_tagTextAsked = m_tagText;
        m_searching = true;
        m_finder->find(m_request, QString(), m_tagText);
    }
}

void LyricsController::takeFound(quint64 request, const Lyrics &lyrics, const QString &file)
{
    if (request != m_request)
        return; // for a track played before
    m_searching = false;
    m_lyrics = lyrics;
    m_file = file;
    m_line = m_timedLine = -2;
    if (file.isEmpty() && m_tagText != m_tagTextAsked) {
        // The tags told more while the search ran.
        m_tagTextAsked = m_tagText;
        m_searching = true;
        m_finder->find(m_request, QString(), m_tagText);
    }
    emit lyricsChanged(m_url, m_lyrics.plainText());
    anchor();
    updateWindow();
}

void LyricsController::setWanted(bool wanted)
{
    // As the program ends it closes every window: that is no choice of the user's.
    if (!wanted && m_player->isEnding())
        return;
    m_settings->set(kShown, wanted);
    {
        const QSignalBlocker quiet(m_showItem);
        m_showItem->setChecked(wanted);
    }
    updateWindow();
}

void LyricsController::setLocked(bool locked)
{
    m_window->setLocked(locked);
    m_settings->set(kLocked, locked);
    const QSignalBlocker quiet(m_lockItem);
    m_lockItem->setChecked(locked);
}

void LyricsController::setFontSize(int pixels)
{
    m_window->setFontSize(pixels);
    m_settings->set(kFontSize, m_window->fontSize());
    tick(); // the fill starts again on the new pictures
}

void LyricsController::savePlace()
{
    const QRect place = m_window->geometry();
    m_settings->set(kLeft, place.x());
    m_settings->set(kTop, place.y());
    m_settings->set(kWidth, place.width());
}

void LyricsController::placeWindow()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    const int width =
        m_settings->integer(kWidth, std::min(800, area.width() * 4 / 5), DesktopLyrics::kMinWidth,
                            std::max(area.width(), DesktopLyrics::kMinWidth));
    // Low in the middle of the screen, until the user places it.
    const QPoint fallback(area.center().x() - width / 2,
                          area.bottom() - m_window->height() - area.height() / 10);
    QRect place(m_settings->integer(kLeft, fallback.x(), -kMaxCoordinate, kMaxCoordinate),
                m_settings->integer(kTop, fallback.y(), -kMaxCoordinate, kMaxCoordinate), width,
                m_window->height());
    // A place on a screen that is no longer there is no place.
    if (!QGuiApplication::screenAt(place.center()))
        place.moveTopLeft(fallback);
    m_window->setGeometry(place);
}

void LyricsController::updateWindow()
{
    const bool show = isWanted() && !m_url.isEmpty() && !m_lyrics.isEmpty();
    if (!show) {
        m_frame.stop();
        m_line = -2;
        m_window->setLines(QString(), QString());
        m_window->hide();
        return;
    }
    if (!m_window->isVisible())
        m_window->show();
    tick();
}

void LyricsController::anchor()
{
    const MediaComponent *media = m_player->media();
    if (!media)
        return;
    m_anchorMs = std::llround(std::max(0.0, media->currentPosition()) * 1000);
    m_rate = media->rate() > 0 ? media->rate() : 1.0;
    m_running = media->playState() == MediaComponent::Playing;
    // Unsynced lyrics move through the track's length.
    m_durationMs = std::llround(std::max(0.0, media->duration()) * 1000);
    m_clock.restart();
}

qint64 LyricsController::positionMs() const
{
    return m_anchorMs + (m_running ? std::llround(double(m_clock.elapsed()) * m_rate) : 0);
}

void LyricsController::tick()
{
    m_frame.stop();
    if (!m_window->isVisible() || m_lyrics.isEmpty())
        return;
    if (m_running && m_clock.elapsed() >= kResyncMs)
        anchor();
    const qint64 now = positionMs();
    const QList<LyricsLine> &lines = m_lyrics.lines();
    const int line = m_lyrics.lineAt(now, m_durationMs);
    // Before the first line starts, it stands there unsung.
    const int shown = std::max(line, 0);
    if (shown != m_line) {
        m_line = shown;
        m_window->setLines(lines[shown].text, shown + 1 < lines.size() ? lines[shown + 1].text : QString());
    }
    // Character by character: a character lights up as its singing begins.
    const double sung = line < 0 ? 0 : std::ceil(m_lyrics.sungChars(line, now) - kCharSlack);
    m_window->setSung(sung);
    if (!m_running)
        return;

    int delay = kUnsyncedTickMs;
    if (m_lyrics.isSynced()) {
        if (line != m_timedLine) {
            // The next line to begin; lines that share this one's time are sung with it.
            m_timedLine = line;
            qsizetype later = line + 1;
            while (line >= 0 && later < lines.size() && lines[later].startMs <= lines[line].startMs)
                ++later;
            m_nextLineMs = later < lines.size() ? lines[later].startMs : -1;
        }
        qint64 next = m_nextLineMs >= 0 ? m_nextLineMs : now + kIdleTickMs;
        // The next character, never sooner than a step, and never after the next line.
        const qint64 character = line < 0 ? -1 : m_lyrics.timeAfterChars(line, sung);
        if (character >= 0)
            next = std::min(next, std::max(character, now + std::llround(kMinStepMs * m_rate)));
        delay = int(std::clamp<qint64>(std::llround(double(next - now) / m_rate), 1, kIdleTickMs));
    }
    m_frame.start(delay);
}
