#include "Dialog.h"

#include "BoundedText.h"
#include "Connectivity.h"
#include "Names.h"
#include "NoticePage.h"
#include "Twips.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

// The text cut to the shown limit, marked as cut.
QString bounded(const QString &text)
{
    if (text.size() <= Dialog::kShownLimit)
        return text;
    return BoundedText::cut(text, Dialog::kShownLimit) + QChar(0x2026);
}

} // namespace

Dialog::Dialog(Connectivity *connectivity, const QString &noticeUrl, const QString &pushText, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(Names::kPushCaption);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Twips::toPixels(6030), Twips::toPixels(3195));

    // Made first, so that the focus starts on it.
    OKButton = new QPushButton(QStringLiteral("确定"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(Twips::toPixels(QRect(4328, 2715, 1215, 375)));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("知道了，不再提醒"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(Twips::toPixels(QRect(488, 2730, 1830, 375)));
    // Plain text: a message from the web is never read as mark-up.
    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(Twips::toPixels(QRect(15, 30, 5985, 2580)));
    Text1->setReadOnly(true);
    // Red whatever the skin gives the dialogs: the widget's own sheet wins.
    Text1->setStyleSheet(QStringLiteral("color: #ff0000;"));
    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, Text1);
    OKButton->setFocus();

    connect(OKButton, &QPushButton::clicked, this, &Dialog::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &Dialog::CancelButton_Click);

    Dialog_Load(connectivity, noticeUrl, pushText);
}

void Dialog::Dialog_Load(Connectivity *connectivity, const QString &noticeUrl, const QString &pushText)
{
    if (!connectivity || !connectivity->isConnected(noticeUrl)) {
        Text1->setPlainText(QStringLiteral("网络连接失败，暂时无法获取消息推送内容"));
        return;
    }
    Text1->setPlainText(messageText(pushText));
}

QString Dialog::messageText(const QString &pushText)
{
    if (!pushText.contains(NoticePage::kParagraph))
        return bounded(pushText);
    const QStringList parts = NoticePage::paragraphs(pushText);
    QString text;
    for (qsizetype i = 1; i < parts.size(); ++i)
        text += parts.at(i) + kLineBreak;
    // The page's last paragraph opens the end marker's, so the text ends in
    // two line breaks, which go. A text too short for that (one line and a
    // single "<p>") loses only its trailing line breaks, never its words.
    if (text.size() >= 4) {
        text.chop(4);
    } else {
        while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
            text.chop(1);
    }
    return bounded(text);
}

void Dialog::OKButton_Click()
{
    close();
}

void Dialog::CancelButton_Click()
{
    emit remindersStopped();
    close();
}
