#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
namespace WindowPresence {
class Registration;
}

// The updater's first window: the published version and the update log, with
// 确定 to download and 取消 to leave.
class Form1 : public QDialog
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

public slots:
    void Command2_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLabel *Label3 = nullptr;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
