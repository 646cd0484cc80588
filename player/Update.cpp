#include "Update.h"

#include "AppInfo.h"
#include "Connectivity.h"
#include "Names.h"
#include "NoticePage.h"
#include "Prompts.h"
#include "ShapedWindow.h"
#include "Shell.h"
#include "Transfer.h"
#include "Twips.h"
#include "WindowPresence.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

Update::Update(const PlayerServices &services, QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window), m_services(services)
{
    setObjectName(QStringLiteral("Update"));
    setWindowTitle(Names::kPlayerCaption);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(kWidth, kHeight);
    ShapedWindow::apply(this);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(Twips::toPixels({0, 0, 4695, 255}));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);

    // A background of its own keeps the window's shape steady while the text changes.
    Label1 = new QLabel(QStringLiteral("正在检查更新..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Twips::toPixels({1245, 345, 2190, 240}));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setAutoFillBackground(true);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::Window, QColor(24, 24, 32));
    palette.setColor(QPalette::WindowText, QColor(192, 192, 255));
    Label1->setPalette(palette);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->hide();
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->hide();

    Inet1 = new Transfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet1->setIdleTimeout(m_services.transferTimeoutMs);
    connect(Inet1, &Transfer::pageFetched, this, &Update::pageFetched);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &Update::Timer1_Timer);
}

Update::~Update() = default;

Update *Update::open(const PlayerServices &services, QWidget *mainWindow)
{
    // A closed strip may linger until the event loop deletes it; it no longer counts.
    const auto checks = mainWindow->findChildren<Update *>(Qt::FindDirectChildrenOnly);
    for (Update *running : checks) {
        if (running->isVisible()) {
            running->raise();
            running->activateWindow();
            return nullptr;
        }
    }
    auto *check = new Update(services, mainWindow);
    check->load();
    return check;
}

void Update::load()
{
    // Centred, 200 twips below the main window; placed first so that it
    // never shows for a moment elsewhere.
    if (const QWidget *main = parentWidget()) {
        const QRect frame = main->frameGeometry();
        move(frame.x() + frame.width() / 2 - width() / 2, frame.y() + frame.height() + Twips::toPixels(200));
    }
    show();
    Timer1->start(m_services.updateTickMs);
    Text1->setText(AppInfo::localVersionText());
    ProgressBar1->setValue(ProgressBar1->minimum());

    if (m_services.connectivity && m_services.connectivity->isConnected(m_services.noticeUrl)) {
        // The decision waits for this; the window goes on meanwhile.
        Inet1->openUrl(m_services.noticeUrl);
    } else {
        Text2->clear();
        updateOnline = false;
        m_pageDone = true;
    }
}

void Update::pageFetched(bool ok, const QByteArray &body)
{
    const auto published = ok ? NoticePage::version(Inet1->textOf(body)) : std::nullopt;
    if (!published) {
        // An unreadable page, or one without a version: the strip just goes.
        close();
        return;
    }
    Text2->setText(*published);
    updateOnline = true;
    m_pageDone = true;
}

void Update::Timer1_Timer()
{
    // Ticks that reach the decision before the page has come hold there.
    if (!m_pageDone && ProgressBar1->value() >= kDecision)
        return;
    if (ProgressBar1->value() < ProgressBar1->maximum())
        ProgressBar1->setValue(ProgressBar1->value() + 1);
    const int value = ProgressBar1->value();
    if (value >= 10)
        Label1->setText(QStringLiteral("正在检测版本信息..."));
    // A late page is no failure: the status waits with the bar.
    if (value < kDecision || !m_pageDone)
        return;

    if (!updateOnline) {
        Label1->setText(QStringLiteral("网络连接失败！"));
        if (value >= ProgressBar1->maximum())
            close();
        return;
    }
    if (Text2->text() != Text1->text()) {
        offerUpdate();
        return;
    }
    Label1->setText(QStringLiteral("暂无更新"));
    if (value >= ProgressBar1->maximum())
        finishUpToDate();
}

void Update::offerUpdate()
{
    // No more ticks while the question is open, nor after it.
    Timer1->stop();
    Prompts *prompts = m_services.prompts;
    const int answer = prompts->message(this, QStringLiteral("更新提示："),
                                        QStringLiteral("发现新版本 Ver：") + Text2->text() +
                                            QStringLiteral(" 是否需要更新？"),
                                        Prompts::OkCancel, Prompts::NoIcon);
    if (answer == Prompts::AnswerOk) {
        const QString folder = m_services.programFolder;
        const QString updater = AppInfo::executableName(Names::kUpdaterProgram);
        // An updater that is there but cannot be started is as good as missing.
        if (QFileInfo(QDir(folder).filePath(updater)).isFile() &&
            m_services.shell->startProgram(folder, updater)) {
            close();
            emit updaterStarted();
            return;
        }
        const int again =
            prompts->message(this, QStringLiteral("提示:"),
                             QStringLiteral("更新文件已损坏,是否去官网重新下载最新完整版程序？"),
                             Prompts::YesNo, Prompts::NoIcon);
        if (again == Prompts::AnswerYes)
            m_services.shell->openWebsite(m_services.noticeUrl);
    }
    close();
}

void Update::finishUpToDate()
{
    Timer1->stop();
    Prompts *prompts = m_services.prompts;
    const QPointer<QWidget> main = parentWidget();
    // The strip goes first; the box follows on its own.
    close();
    prompts->message(main, QStringLiteral("TamselMP3Player提示："), QStringLiteral("您使用的已经是最新版本"),
                     Prompts::Ok, Prompts::NoIcon);
}

void Update::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The updater will not work beside a window of ours with this caption.
    if (!m_presence)
        m_presence = WindowPresence::announce(Names::kPlayerCaption);
}

void Update::hideEvent(QHideEvent *event)
{
    m_presence.reset();
    QWidget::hideEvent(event);
}
