#pragma once

#include "Prompts.h"

#include <QList>
#include <QQueue>

#include <functional>

// Answers message boxes and file choosers from a script, and records every box
// shown. A box or chooser with no scripted answer is a test failure, never a
// hang: it answers Cancel (or nothing) and is recorded as unexpected.
class ScriptedPrompts : public Prompts
{
public:
    struct Shown
    {
        QString title;
        QString text;
        Buttons buttons;
        Icon icon;
    };

    void answerNext(int answer) { m_answers.enqueue(answer); }
    void chooseFilesNext(const QStringList &paths) { m_files.enqueue(paths); }
    void chooseFileNext(const QString &path) { m_files.enqueue(QStringList{path}); }
    // Runs call while the next box or chooser is open, before it answers, as
    // the event loop of a real one serves timers and bus calls meanwhile.
    void whileNextIsOpen(std::function<void()> call) { m_whileOpen = std::move(call); }

    const QList<Shown> &shown() const { return m_shown; }
    int unexpected() const { return m_unexpected; }
    int choosersShown() const { return m_choosers; }
    void clear();

    int message(QWidget *parent, const QString &title, const QString &text, Buttons buttons, Icon icon) override;
    QStringList openFiles(QWidget *parent, const QString &title, const QString &filter,
                          const QString &folder) override;
    QString openFile(QWidget *parent, const QString &title, const QString &filter) override;
    QString saveFile(QWidget *parent, const QString &title, const QString &filter) override;

    // What the last chooser was opened with.
    QString lastTitle;
    QString lastFilter;
    QString lastFolder;

private:
    void runWhileOpen();
    QStringList nextFiles();

    std::function<void()> m_whileOpen;
    QQueue<int> m_answers;
    QQueue<QStringList> m_files;
    QList<Shown> m_shown;
    int m_unexpected = 0;
    int m_choosers = 0;
};
