#pragma once

#include <QPoint>
#include <QWidget>

#include <memory>

class FrmPlayer;
class ImageButton;
class QLabel;
class QTimer;
namespace WindowPresence {
class Registration;
}

// The mini window: a small shaped remote control that stands in for the hidden
// main window. It owns no playback state: its buttons run the main window's
// operations and its timer mirrors the main window's status line and times.
// Each showing is a fresh window; it deletes itself when it closes.
class Mini : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kClientWidth = 201;
    static constexpr int kClientHeight = 180;

    explicit Mini(FrmPlayer *main);
    ~Mini() override;

    // Places the window beside the main window and takes the toggle picture
    // and the stacking from it. Runs before each showing.
    void load();

    // The status line's left edge, in twips.
    double label1Left() const { return m_label1Left; }
    // Whether the play/pause toggle shows the play picture.
    bool showsPlayPicture() const;

public slots:
    void Image2_Click();
    void Image3_Click();
    void Image4_Click();
    void Image5_Click();
    void Image6_Click();
    void Image7_Click();
    void Image10_Click();

private slots:
    void Timer1_Timer();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    ImageButton *addButton(const char *name, const char *picture, const QString &toolTip, const QRect &twips);
    QLabel *addTimeLabel(const char *name, const QRect &twips);
    void setLabel1Left(double twips);
    void setLabel1Text(const QString &text);
    int label1Width() const;

    FrmPlayer *m_main;
    QLabel *Image1 = nullptr;
    ImageButton *Image2 = nullptr;
    ImageButton *Image3 = nullptr;
    ImageButton *Image4 = nullptr;
    ImageButton *Image5 = nullptr;
    ImageButton *Image6 = nullptr;
    ImageButton *Image7 = nullptr;
    ImageButton *Image8 = nullptr;
    ImageButton *Image9 = nullptr;
    ImageButton *Image10 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QTimer *Timer1 = nullptr;

    double m_label1Left = 0;
    // Where Image1 was grabbed, in its own pixels.
    QPoint m_drag;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
