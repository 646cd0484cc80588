#include "ScriptedPrompts.h"

void ScriptedPrompts::runWhileOpen()
{
    if (auto call = std::exchange(m_whileOpen, nullptr))
        call();
}

void ScriptedPrompts::clear()
{
    m_whileOpen = nullptr;
    m_answers.clear();
    m_files.clear();
    m_shown.clear();
    m_unexpected = 0;
    m_choosers = 0;
}

int ScriptedPrompts::message(QWidget *, const QString &title, const QString &text, Buttons buttons, Icon icon)
{
    m_shown.append({title, text, buttons, icon});
    runWhileOpen();
    if (buttons == Ok)
        return m_answers.isEmpty() ? AnswerOk : m_answers.dequeue();
    if (m_answers.isEmpty()) {
        ++m_unexpected;
        return buttons == YesNo ? AnswerNo : AnswerCancel;
    }
    return m_answers.dequeue();
}

QStringList ScriptedPrompts::nextFiles()
{
    ++m_choosers;
    runWhileOpen();
    if (m_files.isEmpty()) {
        ++m_unexpected;
        return {};
    }
    return m_files.dequeue();
}

QStringList ScriptedPrompts::openFiles(QWidget *, const QString &title, const QString &filter,
                                       const QString &folder)
{
    lastTitle = title;
    lastFilter = filter;
    lastFolder = folder;
    return nextFiles();
}

QString ScriptedPrompts::openFile(QWidget *, const QString &title, const QString &filter)
{
    lastTitle = title;
    lastFilter = filter;
    lastFolder.clear();
    return nextFiles().value(0);
}

QString ScriptedPrompts::saveFile(QWidget *, const QString &title, const QString &filter)
{
    lastTitle = title;
    lastFilter = filter;
    lastFolder.clear();
    return nextFiles().value(0);
}
