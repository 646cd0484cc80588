#include "Prompts.h"

#include <QFileDialog>
#include <QMessageBox>

int QtPrompts::message(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                       Icon icon)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Critical: box.setIcon(QMessageBox::Critical); break;
    case Question: box.setIcon(QMessageBox::Question); break;
    case Warning: box.setIcon(QMessageBox::Warning); break;
    case Information: box.setIcon(QMessageBox::Information); break;
    case NoIcon: break;
    }
    switch (buttons) {
    case Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return AnswerOk;
    case QMessageBox::Yes: return AnswerYes;
    case QMessageBox::No: return AnswerNo;
    default: return buttons == YesNo ? AnswerNo : AnswerCancel;
    }
}

QStringList QtPrompts::openFiles(QWidget *parent, const QString &title, const QString &filter,
                                 const QString &folder)
{
    return QFileDialog::getOpenFileNames(parent, title, folder, filter);
}

QString QtPrompts::openFile(QWidget *parent, const QString &title, const QString &filter)
{
    // Naming a file that does not exist is allowed: the caller then finds
    // nothing to read, as a user who typed a new name expects.
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString QtPrompts::saveFile(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}
