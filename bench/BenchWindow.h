#pragma once

#include "FrmPlayer.h"
#include "GstMediaComponent.h"
#include "Prompts.h"
#include "Shell.h"

#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QListWidget;

// Answers every box with OK and every chooser with the files it holds.
class InstantPrompts : public Prompts
{
public:
    QStringList files;
    int message(QWidget *, const QString &, const QString &, Buttons, Icon) override { return AnswerOk; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override { return files; }
    QString openFile(QWidget *, const QString &, const QString &) override { return files.value(0); }
    QString saveFile(QWidget *, const QString &, const QString &) override { return files.value(0); }
};

class NoShell : public Shell
{
public:
    bool openWebsite(const QString &) override { return false; }
    bool startProgram(const QString &, const QString &) override { return false; }
};

// A loaded main window on the real engine (never started) and instant prompts,
// in a program folder of its own.
struct BenchWindow
{
    BenchWindow();
    QListWidget *list() const;

    QTemporaryDir dir;
    GstMediaComponent media;
    InstantPrompts prompts;
    NoShell shell;
    PlayerServices services;
    std::unique_ptr<FrmPlayer> window;
};

// n paths of the length and shape real libraries have.
QStringList benchPaths(int n);

// Milliseconds of one action, the list's own layout included.
double timeOnce(const std::function<void()> &action);

double median(QList<double> times);

// Sets up the offscreen platform unless the caller chose one.
void useOffscreenUnlessSet();
