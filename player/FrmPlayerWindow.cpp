// The main window's own behaviour: dragging, minimising, ending the program,
// the mini window, the stacking toggle and the pop-up menu, and the handlers
// of the notice page's parts.
#include "FrmPlayer.h"

#include "ImageButton.h"
#include "Mini.h"
#include "PushMessage.h"
#include "Update.h"
#include "UpdaterHandOff.h"

#include "Shell.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace {

const QString kNormal = QStringLiteral("窗体置顶");
const QString kOnTop = QStringLiteral("取消置顶");

// Moves a window above other windows or back, in place. QWidget::setWindowFlags
// would re-create a shown window (hidden, and possibly placed anew by the window
// manager); the platform window instead changes only its stacking state, which
// the window manager applies, and the raise covers a desktop without one.
void setStaysOnTop(QWidget *window, bool onTop)
{
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    QWindow *handle = window->windowHandle();
    if (!handle) {
        window->setWindowFlags(flags);
        return;
    }
    window->overrideWindowFlags(flags);
    handle->setFlags(flags);
    if (onTop && window->isVisible())
        window->raise();
}

} // namespace

void FrmPlayer::buildMenu()
{
    menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("菜单"));
    // Each item runs only the handler named for it; the separators run none.
    const QList<QPair<QString, void (FrmPlayer::*)()>> items = {
        {QStringLiteral("打开播放列表"), &FrmPlayer::imgLstopen_Click},
        {QStringLiteral("保存播放列表"), &FrmPlayer::imgLstsave_Click},
        {QStringLiteral("分隔1"), nullptr},
        {QStringLiteral("添加歌曲"), &FrmPlayer::imgAdd_Click},
        {QStringLiteral("删除歌曲"), &FrmPlayer::imgDelete_Click},
        {QStringLiteral("清空列表"), &FrmPlayer::imgClear_Click},
        {QStringLiteral("分隔2"), nullptr},
        {QStringLiteral("上一曲"), &FrmPlayer::imglistPre_Click},
        {QStringLiteral("下一曲"), &FrmPlayer::imglistNext_Click},
        {QStringLiteral("分隔3"), nullptr},
        {kNormal, &FrmPlayer::menuTopmost_Click},
        {QStringLiteral("检查更新"), &FrmPlayer::Image2_Click},
        {QStringLiteral("官方网站"), &FrmPlayer::menuWebsite_Click},
        {QStringLiteral("分隔4"), nullptr},
        {QStringLiteral("退出"), &FrmPlayer::imgClose_Click},
    };
    for (const auto &[name, handler] : items) {
        QAction *action = menu->addAction(handler ? name : QStringLiteral("-"));
        action->setObjectName(name);
        action->setSeparator(!handler);
        if (handler)
            connect(action, &QAction::triggered, this, handler);
        if (name == kNormal)
            m_topmostItem = action;
    }
}

void FrmPlayer::addMenuItem(QAction *item)
{
    const QString separator = QStringLiteral("分隔5");
    const QList<QAction *> rows = menu->actions();
    if (std::none_of(rows.begin(), rows.end(), [&](QAction *row) { return row->objectName() == separator; }))
        menu->addSeparator()->setObjectName(separator);
    menu->addAction(item);
}

QString FrmPlayer::statusCaption() const
{
    return lblCurrent->text();
}

QString FrmPlayer::timeCaption() const
{
    return lblTime->text();
}

QString FrmPlayer::totalTimeCaption() const
{
    return lblTotletime->text();
}

QString FrmPlayer::topmostCaption() const
{
    return m_topmostItem->text();
}

Mini *FrmPlayer::mini() const
{
    return m_mini;
}

void FrmPlayer::bringToFront()
{
    QWidget *front = m_mini && m_mini->isVisible() ? static_cast<QWidget *>(m_mini) : this;
    if (front->isMinimized())
        front->showNormal();
    front->show();
    front->raise();
    front->activateWindow();
}

void FrmPlayer::imgMin_Click()
{
    showMinimized();
}

void FrmPlayer::imgClose_Click()
{
    // At once: nothing is asked or saved, and no window may hold the end up.
    m_ending = true;
    const auto timers = findChildren<QTimer *>();
    for (QTimer *timer : timers)
        timer->stop();
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != this && window->isVisible())
            window->close();
    }
    close();
    // The services' quit is exit(0) rather than quit(): it ends every running
    // event loop, a modal dialog's too, and cannot be refused.
    if (m_services.quit)
        m_services.quit();
}

void FrmPlayer::Image1_Click()
{
    // Each showing is a fresh mini window, loaded anew.
    delete m_mini;
    m_mini = new Mini(this);
    m_mini->load();
    m_mini->show();
    hide();
}

void FrmPlayer::Image2_Click()
{
    showUpdate();
}

// The notice page's three parts are objects of their own.

void FrmPlayer::showUpdate()
{
    if (Update *check = Update::open(m_services, this))
        connect(check, &Update::updaterStarted, this, &FrmPlayer::imgClose_Click);
}

void FrmPlayer::Timer1_Timer()
{
    m_push->Timer1_Timer();
}

QString FrmPlayer::pushSwitch() const
{
    return m_push->pushSwitch();
}

QString FrmPlayer::pushText() const
{
    return m_push->pushText();
}

void FrmPlayer::Timer2_Timer()
{
    m_handOff->Timer2_Timer();
}

void FrmPlayer::killUD()
{
    m_handOff->killUD();
}

void FrmPlayer::menuTopmost_Click()
{
    const bool onTop = m_topmostItem->text() == kNormal;
    setStaysOnTop(this, onTop);
    m_topmostItem->setText(onTop ? kOnTop : kNormal);
}

void FrmPlayer::menuWebsite_Click()
{
    m_services.shell->openWebsite(m_services.noticeUrl);
}

// The window has no frame: dragging its bare background moves it, and the
// grabbed point stays under the pointer. A press that a control let pass is
// no grab, so a drag that starts on a control never moves the window.
void FrmPlayer::mousePressEvent(QMouseEvent *event)
{
    m_grab = event->position().toPoint();
    m_dragging = !childAt(m_grab);
}

void FrmPlayer::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && event->buttons() == Qt::LeftButton)
        move(event->globalPosition().toPoint() - m_grab);
}

void FrmPlayer::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}
