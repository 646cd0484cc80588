#pragma once

#include "UpdaterServices.h"

#include <QDialog>

#include <memory>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class Transfer;
namespace WindowPresence {
class Registration;
}

// The updater's first window: the published version and the update log, with
// 确定 to download and 取消 to leave.
class Form1 : public QDialog
{
    Q_OBJECT
public:
    explicit Form1(const UpdaterServices &services, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up: refuses a second updater, skins and shows the window, then
    // asks for the notice page; the window answers while it is on its way.
    // Returns false when the updater must end at once.
    bool load();

    // The update log as the window shows it, lines joined by CR LF, from the
    // whole notice page; nothing when the page has no log to show.
    static std::optional<QString> updateLog(const QString &page);

    // Every way out (取消, Escape, the frame's close button) ends here.
    void done(int result) override;

public slots:
    void Command1_Click();
    void Command2_Click();
    void Label3_MouseDown(Qt::MouseButton button);

private slots:
    void Inet1_PageFetched(bool ok, const QByteArray &body);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPage(const QString &page);
    void showOffline();
    void showFailure();
    void setLog(const QString &text);

    UpdaterServices m_services;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLabel *Label3 = nullptr;
    Transfer *Inet1 = nullptr;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
