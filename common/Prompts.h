#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;
class QMessageBox;
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

// QMessageBox and Qt's own QFileDialog: the desktop's native chooser would
// not follow the program's language and would repeat every filter's pattern.
class QtPrompts : public Prompts
{
public:
    enum Chooser { OpenSeveral, OpenOne, Save };
    // Wide enough for names, sizes and dates side by side.
    static constexpr int kChooserWidth = 880;
    static constexpr int kChooserHeight = 540;

    int message(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                Icon icon) override;
    QStringList openFiles(QWidget *parent, const QString &title, const QString &filter,
                          const QString &folder) override;
    QString openFile(QWidget *parent, const QString &title, const QString &filter) override;
    QString saveFile(QWidget *parent, const QString &title, const QString &filter) override;

    // The box and the choosers as they are shown, built apart so that they can
    // be looked at without a modal wait. An empty folder is the current one.
    static std::unique_ptr<QMessageBox> buildMessageBox(QWidget *parent, const QString &title,
                                                        const QString &text, Buttons buttons, Icon icon);
    static std::unique_ptr<QFileDialog> buildChooser(QWidget *parent, Chooser kind, const QString &title,
                                                     const QString &filter,
                                                     const QString &folder = QString());
};
