#include "Prompts.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

std::unique_ptr<QMessageBox> QtPrompts::buildMessageBox(QWidget *parent, const QString &title,
                                                        const QString &text, Buttons buttons, Icon icon)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(title);
    box->setText(text);
    switch (icon) {
    case Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    case Question:
        box->setIcon(QMessageBox::Question);
        break;
    case Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case Information:
        box->setIcon(QMessageBox::Information);
        break;
    case NoIcon: break;
    }
    switch (buttons) {
    case Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Plain 是 and 否, as Chinese boxes read; Qt's translation adds "(Y)" and "(N)".
        box->button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box->button(QMessageBox::No)->setText(QStringLiteral("否"));
        break;
    }
    return box;
}

int QtPrompts::message(QWidget *parent, const QString &title, const QString &text, Buttons buttons, Icon icon)
{
    const std::unique_ptr<QMessageBox> box = buildMessageBox(parent, title, text, buttons, icon);
    switch (box->exec()) {
    case QMessageBox::Ok: return AnswerOk;
    case QMessageBox::Yes: return AnswerYes;
    case QMessageBox::No: return AnswerNo;
    default: return buttons == YesNo ? AnswerNo : AnswerCancel;
    }
}

std::unique_ptr<QFileDialog> QtPrompts::buildChooser(QWidget *parent, Chooser kind, const QString &title,
                                                     const QString &filter, const QString &folder)
{
    auto dialog = std::make_unique<QFileDialog>(parent, title, folder, filter);
    // Filters read as the program names them ("*.mp3文件", not "*.mp3文件 (*.mp3)").
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    switch (kind) {
    case OpenSeveral:
        dialog->setFileMode(QFileDialog::ExistingFiles);
        break;
    case OpenOne:
        // Naming a file that does not exist is allowed: the caller then finds
        // nothing to read, as a user who typed a new name expects.
        dialog->setFileMode(QFileDialog::AnyFile);
        break;
    case Save:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        break;
    }
    dialog->setViewMode(QFileDialog::Detail);
    dialog->resize(kChooserWidth, kChooserHeight);
    if (auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        // Sizes and dates in full, in the forms the file list writes them.
        const QFontMetrics metrics(view->font());
        const int padding = 3 * metrics.averageCharWidth();
        const QLocale locale = QLocale::system();
        const QDateTime longDate(QDate(2000, 12, 28), QTime(23, 59, 59));
        QHeaderView *header = view->header();
        header->resizeSection(0, kChooserWidth / 2);
        header->resizeSection(
            1, metrics.horizontalAdvance(locale.formattedDataSize(1023 * 1024 * 1024 + 999)) + padding);
        header->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("MP3 audio")) + padding);
        header->resizeSection(3, metrics.horizontalAdvance(locale.toString(longDate, QLocale::ShortFormat)) +
                                     padding);
    }
    return dialog;
}

namespace {

QStringList chosenFiles(QFileDialog &dialog)
{
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

} // namespace

QStringList QtPrompts::openFiles(QWidget *parent, const QString &title, const QString &filter,
                                 const QString &folder)
{
    return chosenFiles(*buildChooser(parent, OpenSeveral, title, filter, folder));
}

QString QtPrompts::openFile(QWidget *parent, const QString &title, const QString &filter)
{
    return chosenFiles(*buildChooser(parent, OpenOne, title, filter)).value(0);
}

QString QtPrompts::saveFile(QWidget *parent, const QString &title, const QString &filter)
{
    return chosenFiles(*buildChooser(parent, Save, title, filter)).value(0);
}
