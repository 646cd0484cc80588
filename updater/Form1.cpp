#include "Form1.h"

#include "Names.h"
#include "UD.h"

#include "Connectivity.h"
#include "NoticePage.h"
#include "Prompts.h"
#include "Shell.h"
#include "Skin.h"
#include "Transfer.h"
#include "WindowPresence.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kLoadingLog = QStringLiteral("正在获取更新信息");
const QString kCrLf = QStringLiteral("\r\n");

} // namespace

Form1::Form1(const UpdaterServices &services, QWidget *parent) : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(Names::kUpdaterCaption);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(420, 300);

    Label1 = new QLabel(QStringLiteral("单击确定来进行如下版本的更新:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 12, 388, 20);

    Label2 = new QLabel(QStringLiteral("正在获取版本信息"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(16, 36, 388, 20);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("更新日志"));
    Text1->setGeometry(16, 62, 388, 176);
    Text1->setReadOnly(true);
    setLog(kLoadingLog + kCrLf);

    Label3 = new QLabel(QStringLiteral("点此进入官网下载最新版本。"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(16, 248, 200, 20);
    QPalette red = Label3->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label3->setPalette(red);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->installEventFilter(this);
    Label3->hide();

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(232, 256, 80, 28);
    Command1->setEnabled(false);
    Command1->setDefault(true);

    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(324, 256, 80, 28);

    Inet1 = new Transfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet1->setIdleTimeout(m_services.idleTimeoutMs);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Inet1, &Transfer::pageFetched, this, &Form1::Inet1_PageFetched);
}

Form1::~Form1() = default;

bool Form1::load()
{
    if (!claimProgramFolder(m_services)) {
        m_services.prompts->message(nullptr, QStringLiteral("提示："), QStringLiteral("更新程序已经在运行"),
                                    Prompts::Ok, Prompts::Information);
        return false;
    }
    Skin::attach(m_services.programFolder);
    // Up before the page is asked for; the answer fills it in.
    show();
    if (!m_services.connectivity->isConnected(m_services.noticeUrl)) {
        showOffline();
        return true;
    }
    Inet1->openUrl(m_services.noticeUrl);
    return true;
}

void Form1::Inet1_PageFetched(bool ok, const QByteArray &body)
{
    if (!ok) {
        showFailure();
        return;
    }
    showPage(NoticePage::DecodeUtf8(body));
}

std::optional<QString> Form1::updateLog(const QString &page)
{
    std::optional<QString> section = NoticePage::logSection(page);
    if (!section)
        return std::nullopt;
    NoticePage::cleanUp(*section);
    const QStringList parts = NoticePage::paragraphs(*section);

    // The lines follow the designed loading text, which is then cut off again
    // with the fixed trim: its 8 characters, the first line break, and the
    // last 4 characters (the breaks of the last line and of the empty part
    // after it).
    QString text = kLoadingLog + kCrLf;
    for (qsizetype i = 1; i < parts.size(); ++i)
        text += parts[i] + kCrLf;
    text = text.mid(kLoadingLog.size());
    const qsizetype n = text.size();
    if (n - 6 < 0)
        return std::nullopt;
    QString t = text;
    t.remove(t.indexOf(kCrLf), kCrLf.size());
    return NoticePage::kLogMarker + kCrLf + t.left(n - 6);
}

void Form1::showPage(const QString &page)
{
    const std::optional<QString> published = NoticePage::version(page);
    const std::optional<QString> log = updateLog(page);
    if (!published || !log) {
        showFailure();
        return;
    }
    Label2->setText(QStringLiteral("Ver:") + *published);
    setLog(*log);
    // Any difference counts: an older page is offered as well.
    if (*published != m_services.localVersion) {
        Command1->setEnabled(true);
    } else {
        Command1->setEnabled(false);
        Label1->setText(QStringLiteral("您的软件已经是最新版:"));
    }
    Label3->hide();
}

void Form1::showOffline()
{
    Label2->setText(QStringLiteral("无法获取版本号"));
    Label1->setText(QStringLiteral("网络连接失败"));
    setLog(kCrLf + kCrLf + QStringLiteral("无法获取更新内容"));
    Command1->setEnabled(false);
    Label3->hide();
}

void Form1::showFailure()
{
    Label3->show();
    Label2->setText(QStringLiteral("无法获取版本号"));
    Label1->setText(QStringLiteral("在线升级失败"));
    setLog(kCrLf + kCrLf + QStringLiteral("对不起，在线升级失败，您可以进入官网手动下载最新版本"));
    Command1->setEnabled(false);
}

void Form1::setLog(const QString &text)
{
    QString shown = text;
    shown.replace(kCrLf, QStringLiteral("\n"));
    Text1->setPlainText(shown);
}

void Form1::Command1_Click()
{
    if (!Command1->isEnabled() || !isVisible())
        return;
    Command1->setEnabled(false);
    // The download window is up before this one goes, so the updater never
    // stands without a window in between.
    auto *ud = new UD(m_services);
    ud->setAttribute(Qt::WA_DeleteOnClose);
    ud->show();
    close();
    ud->load();
}

void Form1::Command2_Click()
{
    close();
}

void Form1::Label3_MouseDown(Qt::MouseButton button)
{
    if (button == Qt::LeftButton)
        m_services.shell->openWebsite(m_services.noticeUrl);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonPress)
        Label3_MouseDown(static_cast<QMouseEvent *>(event)->button());
    return QDialog::eventFilter(watched, event);
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_presence)
        m_presence = WindowPresence::announce(Names::kUpdaterCaption);
    QDialog::showEvent(event);
}

void Form1::done(int result)
{
    Inet1->cancel();
    m_presence.reset();
    m_services.folderLock.reset();
    QDialog::done(result);
}
