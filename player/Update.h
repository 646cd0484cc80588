#pragma once

#include "PlayerServices.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class Transfer;
namespace WindowPresence {
class Registration;
}

// The update check: a thin strip below the main window, a progress bar over a
// status line, that reads the published version from the notice page while
// the bar fills and then offers the update, says there is none, or says the
// network failed. Only the bar and the status line are seen.
class Update : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 312;
    static constexpr int kHeight = 46;
    // The value from which the check decides.
    static constexpr int kDecision = 90;

    // mainWindow: the window the strip stands below; it also owns the strip.
    Update(const PlayerServices &services, QWidget *mainWindow);
    ~Update() override;

    // Starts a check below mainWindow and returns it; while one runs there,
    // only raises that one and returns null.
    static Update *open(const PlayerServices &services, QWidget *mainWindow);

    // Shows and places the strip and starts the check.
    void load();

signals:
    // The updater has been started: the player must end now.
    void updaterStarted();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void Timer1_Timer();

private:
    void pageFetched(bool ok, const QByteArray &body);
    void offerUpdate();
    void finishUpToDate();

    PlayerServices m_services;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    Transfer *Inet1 = nullptr;
    QTimer *Timer1 = nullptr;

    // True once the page was read, false when there was no connection.
    bool updateOnline = false;
    // The check knows what it needs to decide: the page came, or there is no
    // connection to wait for.
    bool m_pageDone = false;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
