#include "Form1.h"

#include "WindowPresence.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const QString kCaption = QStringLiteral("TamselMP3Player 更新程序");
}

Form1::Form1(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(kCaption);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(420, 300);

    Label1 = new QLabel(QStringLiteral("单击确定来进行如下版本的更新:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 12, 388, 20);

    Label2 = new QLabel(QStringLiteral("正在获取版本信息"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(16, 36, 388, 20);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(16, 62, 388, 176);
    Text1->setReadOnly(true);
    Text1->setPlainText(QStringLiteral("正在获取更新信息\r\n"));

    Label3 = new QLabel(QStringLiteral("点此进入官网下载最新版本。"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(16, 248, 200, 20);
    QPalette red = Label3->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label3->setPalette(red);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->hide();

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(232, 256, 80, 28);
    Command1->setEnabled(false);

    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(324, 256, 80, 28);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
}

Form1::~Form1() = default;

void Form1::Command2_Click()
{
    close();
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_presence)
        m_presence = WindowPresence::announce(kCaption);
    QDialog::showEvent(event);
}
