#pragma once

#include "PlayerServices.h"

#include <QObject>
#include <QPointer>

class Dialog;
class FrmPlayer;
class QTimer;
class Transfer;

// The message push: the notice page is read once, at start-up; while its
// switch is on, the push window opens by itself on the third tick of the push
// timer, one a minute. Nothing about it is kept between runs.
class PushMessage : public QObject
{
    Q_OBJECT
public:
    // window: the main window, which owns this and the push window.
    PushMessage(const PlayerServices &services, FrmPlayer *window);

    // Reads the page when the machine is connected; the push stays off until
    // it has come, and for good without a connection.
    void start();

    // The push switch and the cleaned push text read from the page; both
    // empty when the page was not read.
    QString pushSwitch() const { return m_pushSwitch; }
    QString pushText() const { return m_pushText; }

public slots:
    void Timer1_Timer();

private:
    void pageFetched(bool ok, const QByteArray &body);
    void setPush(bool on);

    PlayerServices m_services;
    FrmPlayer *m_window;
    Transfer *Inet1 = nullptr;
    QTimer *Timer1 = nullptr;
    QString m_pushSwitch;
    QString m_pushText;
    // Ticks of the push timer so far; it stops counting once past 3.
    int pushTicks = 0;
    QPointer<Dialog> m_dialog;
};
