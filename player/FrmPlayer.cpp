#include "FrmPlayer.h"

#include "ImageButton.h"
#include "LineControl.h"
#include "Mini.h"
#include "Names.h"
#include "NextTrack.h"
#include "PathExpansion.h"
#include "Pictures.h"
#include "PlaylistDropTarget.h"
#include "PushMessage.h"
#include "SeekBar.h"
#include "UpdaterHandOff.h"

#include "AtomicFile.h"
#include "AudioTypes.h"
#include "MediaComponent.h"
#include "Prompts.h"
#include "RegularFile.h"
#include "Shell.h"
#include "Skin.h"
#include "Twips.h"
#include "WindowPresence.h"

#include <QAccessibleWidget>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

// The light blue of the list's and the labels' text.
const QColor kLightBlue(192, 192, 255);
const QColor kProgress(0, 64, 0);

// The playlist panel's header strip with its buttons.
class HeaderStrip : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_picture.isNull())
            m_picture = Pictures::render(Pictures::path("header.svg"), size(), devicePixelRatioF());
        QPainter(this).drawPixmap(0, 0, m_picture);
    }

private:
    QPixmap m_picture;
};

// Screen readers see the player's own top-level windows, plain widgets to Qt,
// as frames, as they see dialogs.
QAccessibleInterface *windowInterface(const QString &className, QObject *object)
{
    if (className != QLatin1String("QWidget") || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    return widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

// Writes a help document from the program's resources. The whole file is
// replaced, so an older, longer copy leaves nothing behind.
bool writeDocument(const QDir &folder, const QString &name, bool onlyWhenMissing)
{
    const QString path = folder.filePath(name);
    if (onlyWhenMissing && QFileInfo::exists(path))
        return true;
    QFile resource(QStringLiteral(":/docs/") + name);
    if (!resource.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = resource.readAll();
    // A copy that is already right is left alone: an installed program folder
    // may be read-only.
    QFile existing;
    if (RegularFile::openForReading(&existing, path) && existing.read(content.size() + 1) == content)
        return true;
    return AtomicFile::write(path, content);
}

} // namespace

FrmPlayer::FrmPlayer(const PlayerServices &services, QWidget *parent)
    : QWidget(parent), m_services(services), m_playlist(nullptr, nullptr, nullptr)
{
    // The pictures and documents live in this static library.
    Q_INIT_RESOURCE(player);
    static const bool accessibleWindows = (QAccessible::installFactory(windowInterface), true);
    Q_UNUSED(accessibleWindows);
    setObjectName(QStringLiteral("frmPlayer"));
    setWindowTitle(Names::kPlayerCaption);
    setWindowIcon(QIcon(Pictures::path("app.svg")));
    setWindowFlag(Qt::FramelessWindowHint, true);
    setFixedSize(kClientWidth, kClientHeight);

    m_commonDialog1.title = QStringLiteral("打开");
    // The design's two choices, and between them every type the player takes.
    m_commonDialog1.filter = QStringLiteral("*.mp3文件|*.mp3|音频文件|%1|CUE 文件(*.cue)|*.cue|"
                                            "播放列表(*.m3u *.m3u8 *.pls *.xspf)|*.m3u;*.m3u8;*.pls;*.xspf|"
                                            "All file(*.*)|*.*")
                                 .arg(AudioTypes::audioPatterns().join(QLatin1Char(';')));
    m_commonDialog1.initialFolder = QStringLiteral("music");
    m_commonDialog2.filter = QStringLiteral("播放列表(*.m3u)|*.m3u");

    if (m_services.media)
        m_services.media->setObjectName(QStringLiteral("wmp"));

    buildControls();
    buildPlaylistPanel();
    buildMenu();
    m_playlist = PlaylistPair(listName, listUrl, lblTotlenum);
    connectHandlers();
    m_push = new PushMessage(m_services, this);
    m_handOff = new UpdaterHandOff(m_services, this);
}

FrmPlayer::~FrmPlayer()
{
    delete m_mini;
    // Helpers hung on the window (the remote control) go before the controls
    // they watch, so that none of them hears from a half-destroyed control.
    const QObjectList children = this->children();
    for (QObject *child : children) {
        if (!child->isWidgetType())
            delete child;
    }
}

ImageButton *FrmPlayer::addButton(const char *name, const char *picture, const QString &toolTip,
                                  const QRect &geometry, void (FrmPlayer::*handler)(), QWidget *parent)
{
    auto *button = new ImageButton(QLatin1String(name), Pictures::path(picture), toolTip, geometry,
                                   parent ? parent : this);
    connect(button, &QAbstractButton::clicked, this, handler);
    return button;
}

QLabel *FrmPlayer::addLabel(const char *name, const QString &text, const QRect &geometry, const QColor &colour)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    // Labels take their own presses: only the bare background drags the window.
    label->setAttribute(Qt::WA_NoMousePropagation);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

void FrmPlayer::buildControls()
{
    // The now-playing screen.
    lblCurrent = addLabel("lblCurrent", QString(), {12, 9, 315, 17}, QColor(232, 232, 255));
    lblTime = addLabel("lblTime", QStringLiteral("00:00:00"), {12, 27, 110, 22}, kLightBlue);
    QFont big = lblTime->font();
    big.setPixelSize(19);
    big.setBold(true);
    lblTime->setFont(big);
    lblTimetotle = addLabel("lblTimetotle", QStringLiteral("长度:"), {150, 31, 32, 16}, kLightBlue);
    lblTotletime = addLabel("lblTotletime", QStringLiteral("00:00:00"), {182, 31, 64, 16}, kLightBlue);
    lblTotle = addLabel("lblTotle", QStringLiteral("共"), {262, 31, 14, 16}, kLightBlue);
    lblTotlenum = addLabel("lblTotlenum", QStringLiteral("0"), {276, 31, 36, 16}, QColor(255, 255, 255));
    lblTotlenum->setAlignment(Qt::AlignCenter);
    lblShou = addLabel("lblShou", QStringLiteral("首"), {312, 31, 16, 16}, kLightBlue);
    lblLoop = addLabel("lblLoop", QStringLiteral("全部循环"), {12, 47, 64, 15}, kLightBlue);
    lblSpeed = addLabel("lblSpeed", QStringLiteral("原速度"), {84, 47, 64, 15}, kLightBlue);
    lblCsc = addLabel("lblCsc", QStringLiteral("立体声"), {156, 47, 64, 15}, kLightBlue);
    lblCsc->setCursor(Qt::PointingHandCursor);

    // The seek bar and its progress line, measured in twips.
    Picture1 = new SeekBar(QStringLiteral("Picture1"), {8, 70, 325, 6}, this);
    Picture1->setAccessibleName(QStringLiteral("播放进度"));
    Picture1->setAccessibleDescription(QStringLiteral("单击可跳到该位置"));
    lineFront = new LineControl(QStringLiteral("lineFront"), Twips::kPerPixel, 5, kProgress, Picture1);
    lineFront->setAccessibleName(QStringLiteral("已播放"));

    // Transport.
    addButton("imgStepfront", "rewind.svg", QStringLiteral("快退"), {10, 85, 28, 28},
              &FrmPlayer::imgStepfront_Click);
    addButton("imgPrev", "prev.svg", QStringLiteral("上一曲"), {42, 85, 28, 28}, &FrmPlayer::imgPrev_Click);
    addButton("imgPlay", "play.svg", QStringLiteral("播放"), {75, 82, 34, 34}, &FrmPlayer::imgPlay_Click);
    addButton("imgPause", "pause.svg", QStringLiteral("暂停"), {114, 85, 28, 28}, &FrmPlayer::imgPause_Click);
    addButton("imgStop", "stop.svg", QStringLiteral("停止"), {147, 85, 28, 28}, &FrmPlayer::imgStop_Click);
    addButton("imgNext", "next.svg", QStringLiteral("下一曲"), {180, 85, 28, 28}, &FrmPlayer::imgNext_Click);
    addButton("imgStepback", "forward.svg", QStringLiteral("快进"), {213, 85, 28, 28},
              &FrmPlayer::imgStepback_Click);
    addButton("imgLoop", "loop.svg", QStringLiteral("循环模式"), {252, 87, 24, 24},
              &FrmPlayer::imgLoop_Click);
    addButton("imgOpen", "open.svg", QStringLiteral("打开文件"), {280, 87, 24, 24},
              &FrmPlayer::imgOpen_Click);
    addButton("Image1", "mini.svg", QStringLiteral("迷你模式"), {308, 87, 24, 24}, &FrmPlayer::Image1_Click);

    // Speed, mute and volume.
    addButton("imgSpeeddown", "speeddown.svg", QStringLiteral("减速"), {12, 127, 20, 20},
              &FrmPlayer::imgSpeeddown_Click);
    addButton("imgSpeed0", "speed0.svg", QStringLiteral("原速度"), {36, 127, 20, 20},
              &FrmPlayer::imgSpeed0_Click);
    addButton("imgSpeedup", "speedup.svg", QStringLiteral("加速"), {60, 127, 20, 20},
              &FrmPlayer::imgSpeedup_Click);
    auto *imgMute1 = addButton("imgMute1", "mute.svg", QStringLiteral("静音"), {188, 126, 22, 22},
                               &FrmPlayer::imgMute1_Click);
    lineMute = new LineControl(QStringLiteral("lineMute"), 1, 2, QColor(255, 80, 80), imgMute1);
    lineMute->setPoints(2, 2, 20, 18);
    lineMute->setAccessibleName(QStringLiteral("已静音"));
    lineMute->hide();
    addButton("imgSounddown", "sounddown.svg", QStringLiteral("减少音量"), {214, 127, 20, 20},
              &FrmPlayer::imgSounddown_Click);
    addButton("imgSoundup", "soundup.svg", QStringLiteral("增加音量"), {236, 127, 20, 20},
              &FrmPlayer::imgSoundup_Click);
    auto *bar = new QLabel(this);
    bar->setObjectName(QStringLiteral("imgSound"));
    bar->setPixmap(Pictures::render(Pictures::path("volume.svg"), {65, 8}, devicePixelRatioF()));
    bar->setScaledContents(true);
    bar->setGeometry(272, 133, 35, 8);
    bar->setAttribute(Qt::WA_NoMousePropagation);
    bar->setAccessibleName(QStringLiteral("音量"));
    imgSound = bar;

    timerDisplay = new QTimer(this);
    timerDisplay->setObjectName(QStringLiteral("timerDisplay"));
    timerDisplay->setInterval(500);
    timerTotle = new QTimer(this);
    timerTotle->setObjectName(QStringLiteral("timerTotle"));
    timerTotle->setInterval(500);
}

void FrmPlayer::buildPlaylistPanel()
{
    Picture2 = new HeaderStrip(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(339, 0, 250, 45);
    Picture2->setAttribute(Qt::WA_NoMousePropagation);
    Picture2->setAccessibleName(QStringLiteral("播放列表工具栏"));
    addButton("imgAdd", "add.svg", QStringLiteral("添加歌曲"), {6, 22, 20, 20}, &FrmPlayer::imgAdd_Click,
              Picture2);
    addButton("imgDelete", "delete.svg", QStringLiteral("删除歌曲"), {30, 22, 20, 20},
              &FrmPlayer::imgDelete_Click, Picture2);
    addButton("imgClear", "clear.svg", QStringLiteral("清空列表"), {54, 22, 20, 20},
              &FrmPlayer::imgClear_Click, Picture2);
    addButton("imglistPre", "listup.svg", QStringLiteral("上一曲"), {78, 22, 20, 20},
              &FrmPlayer::imglistPre_Click, Picture2);
    addButton("imglistNext", "listdown.svg", QStringLiteral("下一曲"), {102, 22, 20, 20},
              &FrmPlayer::imglistNext_Click, Picture2);
    addButton("imgLstsave", "lstsave.svg", QStringLiteral("保存播放列表"), {126, 22, 20, 20},
              &FrmPlayer::imgLstsave_Click, Picture2);
    addButton("imgLstopen", "lstopen.svg", QStringLiteral("打开播放列表"), {150, 22, 20, 20},
              &FrmPlayer::imgLstopen_Click, Picture2);
    addButton("Image2", "update.svg", QStringLiteral("检查更新"), {190, 3, 16, 16}, &FrmPlayer::Image2_Click,
              Picture2);
    addButton("imgMin", "min.svg", QStringLiteral("最小化"), {212, 3, 16, 16}, &FrmPlayer::imgMin_Click,
              Picture2);
    addButton("imgClose", "close.svg", QStringLiteral("关闭"), {232, 3, 16, 16}, &FrmPlayer::imgClose_Click,
              Picture2);

    listName = new QListWidget(this);
    listName->setObjectName(QStringLiteral("listName"));
    listName->setGeometry(339, 45, 250, 111);
    listName->setAccessibleName(QStringLiteral("播放列表"));
    listName->setSelectionMode(QAbstractItemView::SingleSelection);
    listName->setUniformItemSizes(true);
    listName->setFrameShape(QFrame::NoFrame);
    listName->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listName->setAttribute(Qt::WA_NoMousePropagation);
    QPalette palette = listName->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, kLightBlue);
    listName->setPalette(palette);
    listName->installEventFilter(this);
    listName->viewport()->installEventFilter(this);

    listUrl = new QListWidget(this);
    listUrl->setObjectName(QStringLiteral("listUrl"));
    listUrl->setUniformItemSizes(true);
    listUrl->hide();
}

void FrmPlayer::connectHandlers()
{
    connect(listName, &QListWidget::itemDoubleClicked, this, &FrmPlayer::listName_DblClick);
    connect(listName, &QListWidget::currentRowChanged, this, &FrmPlayer::currentEntryChanged);
    connect(new PlaylistDropTarget(listName), &PlaylistDropTarget::dropped, this, &FrmPlayer::addItems);
    connect(Picture1, &SeekBar::mouseDown, this, &FrmPlayer::Picture1_MouseDown);
    connect(timerDisplay, &QTimer::timeout, this, &FrmPlayer::timerDisplay_Timer);
    connect(timerTotle, &QTimer::timeout, this, &FrmPlayer::timerTotle_Timer);
    if (m_services.media) {
        connect(m_services.media, &MediaComponent::statusChange, this, &FrmPlayer::wmp_StatusChange);
        connect(m_services.media, &MediaComponent::statusChange, this, &FrmPlayer::playStateChanged);
        connect(m_services.media, &MediaComponent::durationChanged, this, &FrmPlayer::wmp_DurationChange);
        connect(m_services.media, &MediaComponent::mediaChanged, this, &FrmPlayer::wmp_MediaChange);
        connect(m_services.media, &MediaComponent::tagsChanged, this, &FrmPlayer::trackInfoChanged);
    }
    m_nextTrack = new NextTrack(this);
    lblCsc->installEventFilter(this);
}

bool FrmPlayer::load()
{
    if (!writeHelpDocuments()) {
        failStartUp();
        return false;
    }
    Skin::attach(m_services.programFolder);

    // The volume bar as it stands for the start volume of 50.
    imgSound->setGeometry(272, imgSound->y(), 35, imgSound->height());

    m_commonDialog1.flags = FileDialogSettings::kExplorer | FileDialogSettings::kAllowMultiSelect;
    m_commonDialog2.flags = FileDialogSettings::kCreatePrompt | FileDialogSettings::kOverwritePrompt;

    m_state.playMode = 2;
    m_state.stoppedByUser = false;
    m_state.endPhase = 1;
    listName->setCurrentRow(-1);

    // At the top of the screen, centred across it.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + area.width() / 2 - width() / 2, area.y());
    }
    show();
    m_presence = WindowPresence::announce(Names::kPlayerCaption);

    timerDisplay->start();
    timerTotle->start();
    m_handOff->start();
    // The last step; the page comes later and never holds up the start.
    m_push->start();
    return true;
}

bool FrmPlayer::writeHelpDocuments()
{
    const QDir folder(m_services.programFolder);
    return writeDocument(folder, QStringLiteral("License.txt"), true)
           && writeDocument(folder, QStringLiteral("ReadMe.txt"), false)
           && writeDocument(folder, QStringLiteral("WhatsNew.txt"), false)
           && writeDocument(folder, QStringLiteral("广告合作及其协议.txt"), true);
}

void FrmPlayer::failStartUp()
{
    const int answer = m_services.prompts->message(this, QStringLiteral("提示"),
                                                   QStringLiteral("您的软件已经损坏，是否去官网下载最新版本"),
                                                   Prompts::YesNo, Prompts::Critical);
    if (answer == Prompts::AnswerYes)
        m_services.shell->openWebsite(m_services.noticeUrl);
}

void FrmPlayer::AddFiles()
{
    const bool several = m_commonDialog1.flags & FileDialogSettings::kAllowMultiSelect;
    QStringList chosen;
    if (several) {
        chosen = m_services.prompts->openFiles(this, m_commonDialog1.title, m_commonDialog1.qtFilter(),
                                               m_commonDialog1.startFolder(m_services.programFolder));
    } else {
        const QString one = m_services.prompts->openFile(this, m_commonDialog1.title, m_commonDialog1.qtFilter());
        if (!one.isEmpty())
            chosen.append(one);
    }
    if (!chosen.isEmpty())
        addChosenFiles(chosen);
}

int FrmPlayer::addChosenFiles(const QStringList &chosen, bool quiet)
{
    int added = 0;
    // One file whose name ends in lower-case "m3u" (or another player's
    // playlist type) is a playlist: its entries are added.
    if (chosen.size() == 1 && AudioTypes::isPlaylistFileName(QFileInfo(chosen.constFirst()).fileName())) {
        QStringList paths;
        QStringList names;
        if (Playlist::readFile(chosen.constFirst(), &paths, &names))
            added = m_playlist.append(paths, names);
    } else {
        // A cue sheet, or an audio file whose tags keep one, stands for its tracks.
        QStringList entries;
        QStringList problems;
        for (const QString &file : chosen) {
            if (AudioTypes::isSheetFileName(file))
                entries.append(PathExpansion::sheetEntries(QFileInfo(file).absoluteFilePath(), &problems));
            else
                entries.append(PathExpansion::audioEntries(file));
            if (entries.size() >= Playlist::kMaxEntries)
                break;
        }
        added = m_playlist.append(entries);
        if (!quiet)
            reportProblems(problems);
    }
    m_playlist.refreshCount();
    return added;
}

void FrmPlayer::goTo(int index)
{
    if (index < 0 || index >= m_playlist.count())
        return;
    listName->setCurrentRow(index);
    listName_DblClick();
}

void FrmPlayer::imgAdd_Click()
{
    AddFiles();
    m_playlist.refreshCount();
}

void FrmPlayer::imgOpen_Click()
{
    AddFiles();
}

void FrmPlayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_body.isNull())
        m_body = Pictures::render(Pictures::path("body.svg"), {339, 158}, devicePixelRatioF());
    painter.drawPixmap(0, 0, m_body);
}

bool FrmPlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == listName->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            menu->popup(mouse->globalPosition().toPoint());
            return true;
        }
    } else if (watched == listName && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
            delete_Item();
            return true;
        }
    } else if (watched == lblCsc && event->type() == QEvent::MouseButtonRelease) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
            && lblCsc->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            lblCsc_Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
