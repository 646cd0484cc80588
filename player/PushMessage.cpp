#include "PushMessage.h"

#include "Dialog.h"
#include "FrmPlayer.h"

#include "Connectivity.h"
#include "NoticePage.h"
#include "Transfer.h"

#include <QTimer>

PushMessage::PushMessage(const PlayerServices &services, FrmPlayer *window)
    : QObject(window), m_services(services), m_window(window)
{
    setObjectName(QStringLiteral("pushMessage"));
    Inet1 = new Transfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet1->setIdleTimeout(m_services.transferTimeoutMs);
    connect(Inet1, &Transfer::pageFetched, this, &PushMessage::pageFetched);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(60000);
    connect(Timer1, &QTimer::timeout, this, &PushMessage::Timer1_Timer);
}

void PushMessage::start()
{
    if (!m_services.connectivity || !m_services.connectivity->isConnected(m_services.noticeUrl)) {
        setPush(false);
        return;
    }
    // Start-up is over before the page comes: a slow or dead site never
    // holds up the window.
    Inet1->openUrl(m_services.noticeUrl);
}

void PushMessage::pageFetched(bool ok, const QByteArray &body)
{
    if (m_window->isEnding())
        return;
    // A page that cannot be read, or that lacks the push markers, only means
    // no message this time: the site is not part of the installation.
    if (!ok) {
        qInfo("notice page not read: %s", qPrintable(Inet1->errorString()));
        setPush(false);
        return;
    }
    const QString page = NoticePage::DecodeUtf8(body);
    const auto pushSwitch = NoticePage::pushSwitch(page);
    auto pushText = NoticePage::pushText(page);
    if (!pushSwitch || !pushText) {
        qInfo("notice page without a push message");
        setPush(false);
        return;
    }
    NoticePage::cleanUp(*pushText);
    m_pushSwitch = *pushSwitch;
    m_pushText = *pushText;
    setPush(m_pushSwitch == NoticePage::kPushOn);
}

void PushMessage::setPush(bool on)
{
    if (on) {
        Timer1->start(m_services.pushTickMs);
        return;
    }
    // Interval 0 means off, and a stopped timer wakes nobody.
    Timer1->stop();
    Timer1->setInterval(0);
}

void PushMessage::Timer1_Timer()
{
    if (m_pushSwitch != NoticePage::kPushOn)
        return;
    // Once past 3 the count has done its work and stops.
    if (pushTicks <= 3)
        ++pushTicks;
    if (pushTicks != 3)
        return;
    if (!m_dialog) {
        m_dialog = new Dialog(m_services.connectivity, m_services.noticeUrl, m_pushText, m_window);
        connect(m_dialog, &Dialog::remindersStopped, this, [this] { setPush(false); });
    }
    m_dialog->show();
    m_dialog->raise();
}
