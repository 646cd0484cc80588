#pragma once

#include "Connectivity.h"
#include "FakeMediaComponent.h"
#include "FakeShell.h"
#include "FrmPlayer.h"
#include "ScriptedPrompts.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

class QLabel;
class QListWidget;

class FakeConnectivity : public Connectivity
{
public:
    bool isConnected(const QString &) override { return connected; }
    bool connected = false;
};

// A main window on fakes, in a program folder of its own.
struct PlayerFixture
{
    // programFolder empty: a fresh temporary folder.
    explicit PlayerFixture(const QString &programFolder = QString());

    // Builds the window and runs its load; returns what load returned.
    bool load();

    // Builds the window again, its notice page at noticeUrl and every timing
    // of the notice short (the push never ticks by itself); the end it asks
    // for is only counted in quits. tune changes the services before the build.
    void useNoticeSite(const QString &noticeUrl, bool connected,
                       const std::function<void(PlayerServices &)> &tune = {});

    QListWidget *listName() const;
    QListWidget *listUrl() const;
    QLabel *label(const char *name) const;
    QStringList names() const;
    QStringList urls() const;
    // The caption of the count label.
    QString count() const;
    // Clicks the window's image button of that name.
    void click(const char *button, int times = 1) const;

    // "/m/0.mp3" .. "/m/<n-1>.mp3".
    static QStringList paths(int n);

    // Long enough that a timer never ticks by itself during a test.
    static constexpr int kNever = 3600 * 1000;

    QTemporaryDir dir;
    FakeMediaComponent media;
    ScriptedPrompts prompts;
    FakeShell shell;
    FakeConnectivity connectivity;
    PlayerServices services;
    std::unique_ptr<FrmPlayer> window;
    // How often the window asked the program to end.
    int quits = 0;
};
