#include "UD.h"

#include "Names.h"
#include "StagedInstall.h"

#include "AppInfo.h"
#include "NoticePage.h"
#include "Prompts.h"
#include "ShapedWindow.h"
#include "Shell.h"
#include "Transfer.h"
#include "WindowPresence.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <climits>

namespace {

const QString kDownloading = QStringLiteral("正在下载 ");
constexpr int kWidth = 312;
constexpr int kHeight = 46;
constexpr int kBarHeight = 17;
// What one read takes from the transfer; the transfer itself holds at most
// 512 KB, so memory stays bounded whatever the file's size.
constexpr qint64 kBlock = 256 * 1024;
constexpr int kBarIntervalMs = 50;

bool isWebAddress(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

UD::UD(const UpdaterServices &services, QWidget *parent) : QWidget(parent), m_services(services)
{
    setObjectName(QStringLiteral("UD"));
    setWindowTitle(Names::kUpdaterCaption);
    setFixedSize(kWidth, kHeight);
    ShapedWindow::apply(this);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setAccessibleName(QStringLiteral("下载进度"));
    ProgressBar1->setGeometry(0, 0, kWidth, kBarHeight);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    // A background of its own keeps the shape steady while the text changes.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAutoFillBackground(true);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label1->setPalette(palette);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setContentsMargins(4, 0, 4, 0);
    setStatus(QStringLiteral("正在准备更新..."));

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->hide();
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    List2->hide();

    Inet1 = new Transfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet1->setIdleTimeout(m_services.idleTimeoutMs);
    connect(Inet1, &Transfer::pageFetched, this, &UD::Inet1_PageFetched);
    connect(Inet1, &Transfer::stateChanged, this, &UD::Inet1_StateChanged);
    connect(Inet1, &Transfer::readyRead, this, &UD::Inet1_ReadyRead);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &UD::Timer1_Timer);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

UD::~UD() = default;

void UD::setStatus(const QString &text)
{
    Label1->setText(text);
    const int width = std::min(kWidth, Label1->sizeHint().width());
    Label1->setGeometry((kWidth - width) / 2, kBarHeight + 6, width, kHeight - kBarHeight - 6);
}

void UD::load()
{
    show();
    if (anotherUpdaterRunning(m_services.instanceName)) {
        m_services.prompts->message(this, QStringLiteral("提示："),
                                    QStringLiteral("更新程序已经在运行，请勿重复运行更新程序"), Prompts::Ok,
                                    Prompts::Information);
        close();
        return;
    }
    // The player's files cannot be replaced under it.
    if (WindowPresence::exists(Names::kPlayerCaption)) {
        m_services.prompts->message(this, QStringLiteral("TamselMP3Player 更新提示:"),
                                    QStringLiteral("发现原程序正在运行,请关闭原程序后再点击更新."),
                                    Prompts::Ok, Prompts::Warning);
        close();
        return;
    }
    m_stage = Stage::ReadingFileList;
    Inet1->openUrl(m_services.noticeUrl);
}

void UD::Inet1_PageFetched(bool ok, const QByteArray &body)
{
    if (!ok) {
        failUpdate(QStringLiteral("无法读取页面：%1").arg(Inet1->errorString()));
        return;
    }
    if (m_stage == Stage::ReadingFileList)
        readFileList(NoticePage::DecodeUtf8(body));
    else if (m_stage == Stage::ReadingSharePages)
        readSharePage(NoticePage::DecodeUtf8(body));
}

void UD::readFileList(const QString &page)
{
    const std::optional<QList<UpdateFiles::Entry>> entries = UpdateFiles::entries(page);
    if (!entries) {
        failUpdate(QStringLiteral("公告页上没有可用的文件列表"));
        return;
    }
    // Every name is checked before anything is fetched: one that could lead
    // out of the program folder fails the whole update.
    for (const UpdateFiles::Entry &entry : *entries) {
        if (!UpdateFiles::isSafeName(entry.name)) {
            failUpdate(QStringLiteral("文件名不安全：%1").arg(entry.name));
            return;
        }
    }
    m_entries = *entries;
    for (const UpdateFiles::Entry &entry : std::as_const(m_entries))
        List1->addItem(entry.text);
    m_stage = Stage::ReadingSharePages;
    Inet1->openUrl(m_entries.constFirst().shareAddress);
}

void UD::readSharePage(const QString &page)
{
    const std::optional<QString> address = UpdateFiles::downloadAddress(page);
    if (!address || !isWebAddress(*address)) {
        failUpdate(QStringLiteral("分享页上没有下载地址：%1").arg(m_entries[List2->count()].shareAddress));
        return;
    }
    List2->addItem(*address);
    if (List2->count() < m_entries.size()) {
        Inet1->openUrl(m_entries[List2->count()].shareAddress);
        return;
    }
    m_install = std::make_unique<StagedInstall>(m_services.programFolder);
    m_stage = Stage::Downloading;
    startDownload(0);
}

void UD::startDownload(int index)
{
    currentFile = index;
    const UpdateFiles::Entry &entry = m_entries[index];
    const QString saved = UpdateFiles::savedName(entry.name);
    setStatus(kDownloading + saved);
    if (!m_install->begin(saved, entry.name)) {
        failUpdate(m_install->errorString());
        return;
    }
    m_length = -1;
    Inet1->execute(List2->item(index)->text());
}

void UD::Inet1_StateChanged(int state)
{
    if (m_stage != Stage::Downloading)
        return;
    switch (state) {
    case Transfer::Connecting:
        ProgressBar1->setRange(0, 100);
        ProgressBar1->setValue(0);
        break;
    case Transfer::ReceivingResponse:
        setBarTotal(Inet1->contentLength());
        break;
    case Transfer::ResponseCompleted:
        fileArrived();
        break;
    case Transfer::Error:
        failUpdate(QStringLiteral("下载失败：%1").arg(Inet1->errorString()));
        break;
    default:
        break;
    }
}

void UD::setBarTotal(qint64 length)
{
    // A missing, unreadable or zero length gives no total: the bar shows
    // activity, and the file ends where the body ends.
    m_length = length > 0 ? length : -1;
    if (m_length < 0) {
        ProgressBar1->setRange(0, 0);
        return;
    }
    m_barScale = m_length / INT_MAX + 1;
    ProgressBar1->setRange(0, int(m_length / m_barScale));
    ProgressBar1->setValue(0);
    m_barClock.start();
}

void UD::Inet1_ReadyRead()
{
    if (m_stage == Stage::Downloading && takeBlocks())
        showProgress(false);
}

bool UD::takeBlocks()
{
    for (;;) {
        const QByteArray block = Inet1->read(kBlock);
        if (block.isEmpty())
            return true;
        if (!m_install->write(block)) {
            failUpdate(m_install->errorString());
            return false;
        }
    }
}

void UD::showProgress(bool now)
{
    if (m_length < 0)
        return;
    if (!now && m_barClock.isValid() && m_barClock.elapsed() < kBarIntervalMs)
        return;
    m_barClock.start();
    ProgressBar1->setValue(int(std::min(m_install->written(), m_length) / m_barScale));
}

void UD::fileArrived()
{
    if (!takeBlocks())
        return;
    if (!m_install->finish(m_length)) {
        failUpdate(m_install->errorString());
        return;
    }
    if (m_length < 0)
        ProgressBar1->setRange(0, 100);
    else
        showProgress(true);
    if (currentFile + 1 < m_entries.size()) {
        startDownload(currentFile + 1);
        return;
    }
    // Every file is here: now, and only now, they replace the installed ones.
    if (!m_install->commit()) {
        failUpdate(m_install->errorString());
        return;
    }
    m_install.reset();
    m_stage = Stage::CountingDown;
    if (m_length < 0)
        ProgressBar1->setValue(100);
    setStatus(QStringLiteral("更新完成，%1秒钟后自动关闭本窗口").arg(kCountdownTicks));
    Timer1->start(m_services.countdownIntervalMs);
    emit downloadsFinished(true);
}

void UD::Timer1_Timer()
{
    ++closeTicks;
    if (closeTicks < kCountdownTicks) {
        setStatus(QStringLiteral("更新完成，%1秒钟后自动关闭本窗口").arg(kCountdownTicks - closeTicks));
        return;
    }
    Timer1->stop();
    // The strip goes first: the player waits for every updater window to be
    // gone before it swaps in the new updater.
    close();
    m_services.shell->startProgram(m_services.programFolder,
                                   AppInfo::executableName(Names::kPlayerProgram));
}

void UD::failUpdate(const QString &why)
{
    if (m_stage == Stage::Over)
        return;
    qWarning("更新失败：%s", qUtf8Printable(why));
    m_stage = Stage::Over;
    Inet1->cancel();
    // The temporary files go before anyone is asked anything.
    m_install.reset();
    emit downloadsFinished(false);
    // Asked on the next turn, never from inside the transfer's own signal.
    QTimer::singleShot(0, this, [this] {
        const int answer = m_services.prompts->message(this, QStringLiteral("提示"),
                                                       QStringLiteral("更新失败，是否去官网下载最新版本"),
                                                       Prompts::YesNo, Prompts::Critical);
        if (answer == Prompts::AnswerYes)
            m_services.shell->openWebsite(m_services.noticeUrl);
        close();
    });
}

void UD::showEvent(QShowEvent *event)
{
    if (!m_presence)
        m_presence = WindowPresence::announce(Names::kUpdaterCaption);
    QWidget::showEvent(event);
}

void UD::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    Timer1->stop();
    Inet1->cancel();
    m_install.reset();
    m_stage = Stage::Over;
    m_presence.reset();
}
