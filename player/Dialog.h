#pragma once

#include <QDialog>

class Connectivity;
class QPlainTextEdit;
class QPushButton;

// The push-message window: the makers' message in red, "确定" to close it and
// "知道了，不再提醒" to close it and stop the push for the rest of the run.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    Dialog(Connectivity *connectivity, const QString &noticeUrl, const QString &pushText,
           QWidget *parent = nullptr);

    // At most this many characters are shown, and "…" after them: a long
    // unbroken line takes the text box time that grows with its square.
    static constexpr qsizetype kShownLimit = 10000;

    // The cleaned push text as the window shows it: one line per paragraph,
    // what stands before the first "<p>" dropped, the closing line breaks cut,
    // and no more than kShownLimit characters of it.
    static QString messageText(const QString &pushText);

signals:
    // 不再提醒: the push timer is to stop.
    void remindersStopped();

public slots:
    void OKButton_Click();
    void CancelButton_Click();

private:
    void Dialog_Load(Connectivity *connectivity, const QString &noticeUrl, const QString &pushText);

    QPushButton *OKButton = nullptr;
    QPushButton *CancelButton = nullptr;
    QPlainTextEdit *Text1 = nullptr;
};
