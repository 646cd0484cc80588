#include "UD.h"

#include "Names.h"
#include "StagedInstall.h"
#include "UpdateSignature.h"

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
// What one read takes from the transfer, into one buffer for the whole
// download; the transfer itself holds a bounded amount, so memory stays
// bounded whatever the file's size.
constexpr qint64 kBlock = 1024 * 1024;
constexpr int kBarIntervalMs = 50;

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
    if (!claimProgramFolder(m_services)) {
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
    const auto listed = [&entries](const QString &name) {
        return std::any_of(entries->cbegin(), entries->cend(),
                           [&name](const UpdateFiles::Entry &entry) { return entry.name == name; });
    };
    if (!m_services.updateKey.isEmpty() &&
        (!listed(UpdateSignature::kSums) || !listed(UpdateSignature::kSumsSignature))) {
        failUpdate(QStringLiteral("更新没有签名"));
        return;
    }
    m_httpsOnly = QUrl(m_services.noticeUrl).scheme().toLower() == QLatin1String("https");
    for (const UpdateFiles::Entry &entry : *entries) {
        if (!UpdateFiles::isAllowedAddress(entry.shareAddress, m_httpsOnly)) {
            failUpdate(QStringLiteral("分享页地址不可用：%1").arg(entry.shareAddress));
            return;
        }
    }
    m_entries = *entries;
    m_version = NoticePage::version(page).value_or(QString());
    for (const UpdateFiles::Entry &entry : std::as_const(m_entries))
        List1->addItem(entry.text);
    m_stage = Stage::ReadingSharePages;
    Inet1->openUrl(m_entries.constFirst().shareAddress);
}

void UD::readSharePage(const QString &page)
{
    const std::optional<QString> address = UpdateFiles::downloadAddress(page);
    if (!address || !UpdateFiles::isAllowedAddress(*address, m_httpsOnly)) {
        failUpdate(QStringLiteral("分享页上没有下载地址：%1").arg(m_entries[List2->count()].shareAddress));
        return;
    }
    List2->addItem(*address);
    if (List2->count() < m_entries.size()) {
        Inet1->openUrl(m_entries[List2->count()].shareAddress);
        return;
    }
    m_install = std::make_unique<StagedInstall>(m_services.programFolder);
    m_block.reset(new char[kBlock]);
    m_stage = Stage::Downloading;
    startDownload(0);
}

void UD::startDownload(int index)
{
    currentFile = index;
    const UpdateFiles::Entry &entry = m_entries[index];
    const QString saved = UpdateFiles::savedName(entry.name);
    setStatus(kDownloading + saved);
    if (downloadingSignature())
        m_signatureFiles.insert(entry.name, QByteArray());
    else if (!m_install->begin(entry.name)) {
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

bool UD::downloadingSignature() const
{
    return UpdateSignature::isSignatureEntry(m_entries[currentFile].name);
}

bool UD::takeBlocks()
{
    for (;;) {
        const qint64 got = Inet1->read(m_block.get(), kBlock);
        if (got == 0)
            return true;
        const QByteArrayView block(m_block.get(), got);
        if (downloadingSignature()) {
            QByteArray &bytes = m_signatureFiles[m_entries[currentFile].name];
            bytes += block;
            if (bytes.size() <= UpdateSignature::kMaxBytes)
                continue;
            failUpdate(QStringLiteral("%1 太大").arg(m_entries[currentFile].name));
            return false;
        }
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
    const qint64 written = downloadingSignature() ? m_signatureFiles.value(m_entries[currentFile].name).size()
                                                  : m_install->written();
    ProgressBar1->setValue(int(std::min(written, m_length) / m_barScale));
}

void UD::fileArrived()
{
    if (!takeBlocks())
        return;
    if (!downloadingSignature()) {
        // The sync runs beside the window, which goes on answering.
        m_install->finishInBackground(m_length, [this](bool ok) {
            if (ok)
                fileKept();
            else
                failUpdate(m_install->errorString());
        });
        return;
    }
    const qint64 size = m_signatureFiles.value(m_entries[currentFile].name).size();
    if (m_length >= 0 && size != m_length) {
        failUpdate(QStringLiteral("%1 不完整：收到 %2 字节，应为 %3 字节")
                       .arg(m_entries[currentFile].name)
                       .arg(size)
                       .arg(m_length));
        return;
    }
    fileKept();
}

void UD::fileKept()
{
    if (m_length < 0)
        ProgressBar1->setRange(0, 100);
    else
        showProgress(true);
    if (currentFile + 1 < m_entries.size()) {
        startDownload(currentFile + 1);
        return;
    }
    placeFiles();
}

void UD::placeFiles()
{
    // Every file is here: now, and only now, and only when what vouches for
    // them agrees, they replace the installed ones.
    const auto signatureFile = [this](const QString &name) {
        const auto found = m_signatureFiles.constFind(name);
        return found == m_signatureFiles.cend() ? std::nullopt : std::optional<QByteArray>(*found);
    };
    const UpdateSignature::Update update = {
        m_services.updateKey, m_version, signatureFile(UpdateSignature::kSums),
        signatureFile(UpdateSignature::kSumsSignature), m_install->digests()};
    QString why;
    if (!UpdateSignature::allows(update, &why)) {
        failUpdate(why);
        return;
    }
    m_install->setStepHook(m_services.placingStep);
    if (!m_install->commit()) {
        failUpdate(m_install->errorString(), m_install->leftBehind());
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
    startPlayer();
}

void UD::startPlayer()
{
    const QString player = AppInfo::executableName(Names::kPlayerProgram);
    if (m_services.shell->startProgram(m_services.programFolder, player))
        return;
    m_services.prompts->message(
        nullptr, QStringLiteral("提示"),
        QStringLiteral("更新已完成，但无法启动 %1，请在程序文件夹中手动启动它。").arg(player), Prompts::Ok,
        Prompts::Warning);
}

void UD::failUpdate(const QString &why, const QStringList &left)
{
    if (m_stage == Stage::Over)
        return;
    qWarning("更新失败：%s", qUtf8Printable(why));
    m_stage = Stage::Over;
    Inet1->cancel();
    // The temporary files go before anyone is asked anything (those a failed
    // roll-back leaves stay for the next start to finish with).
    m_install.reset();
    setStatus(QStringLiteral("更新失败：") + why);
    emit downloadsFinished(false);
    const QString question =
        left.isEmpty() ? QStringLiteral("更新失败，是否去官网下载最新版本")
                       : QStringLiteral("更新失败，以下文件未能恢复原样：%1。下次启动程序时会再次尝试修复。"
                                        "是否去官网下载最新版本")
                             .arg(left.join(QStringLiteral("、")));
    // Asked on the next turn, never from inside the transfer's own signal.
    QTimer::singleShot(0, this, [this, question] {
        const int answer = m_services.prompts->message(this, QStringLiteral("提示"), question, Prompts::YesNo,
                                                       Prompts::Critical);
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
    m_services.folderLock.reset();
}
