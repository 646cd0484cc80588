#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Message boxes and file choosers. Windows ask through this so that tests can
// answer in their place.
class Prompts
{
public:
    enum Buttons { Ok = 0, OkCancel = 1, YesNo = 4 };
    enum Icon { NoIcon = 0, Critical = 16, Question = 32, Warning = 48, Information = 64 };
    enum Answer { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

    virtual ~Prompts() = default;

    virtual int message(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                        Icon icon) = 0;

    // Full paths of the chosen files, in the chooser's order; empty when cancelled.
    virtual QStringList openFiles(QWidget *parent, const QString &title, const QString &filter,
                                  const QString &folder) = 0;
    virtual QString openFile(QWidget *parent, const QString &title, const QString &filter) = 0;
    virtual QString saveFile(QWidget *parent, const QString &title, const QString &filter) = 0;
};

// QMessageBox and QFileDialog.
class QtPrompts : public Prompts
{
public:
    int message(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                Icon icon) override;
    QStringList openFiles(QWidget *parent, const QString &title, const QString &filter,
                          const QString &folder) override;
    QString openFile(QWidget *parent, const QString &title, const QString &filter) override;
    QString saveFile(QWidget *parent, const QString &title, const QString &filter) override;
};
