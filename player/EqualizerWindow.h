#pragma once

#include <QDialog>

#include <array>

class FrmPlayer;
class Prompts;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class SoundShaping;

// The window 均衡器: the equalizer's switch, presets, pre-amp and ten bands,
// and the ReplayGain choices below them. It shows what SoundShaping holds and
// hands every change to it; a change is heard at once. It can stay open
// beside the main window.
class EqualizerWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kWidth = 440;
    static constexpr int kHeight = 276;

    EqualizerWindow(SoundShaping *sound, Prompts *prompts, QWidget *parent = nullptr);

    // Adds the row 均衡器 to the player's menu; it opens the window, or
    // raises it when it is open.
    static void addMenuRow(FrmPlayer *player, SoundShaping *sound, Prompts *prompts);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void chkEqualizer_Click();
    void sldEqualizer_Change();
    void cboPreset_Click(int index);
    void cmdSave_Click();
    void cmdDelete_Click();
    void replayGain_Change();

private:
    QLabel *addLabel(const char *name, const QString &text, const QRect &geometry,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    QSlider *addSlider(const char *name, const QString &label, Qt::Orientation orientation, int lowest,
                       int highest, const QRect &geometry);
    // Shows what SoundShaping holds.
    void refresh();

    SoundShaping *m_sound;
    Prompts *m_prompts;
    QCheckBox *chkEqualizer = nullptr;
    QComboBox *cboPreset = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdDelete = nullptr;
    QSlider *sldPreamp = nullptr;
    std::array<QSlider *, 10> sldBand{};
    QComboBox *cboReplayGain = nullptr;
    QCheckBox *chkClipping = nullptr;
    QSlider *sldRgPreamp = nullptr;
    QSlider *sldRgFallback = nullptr;
    QLabel *lblRgPreampValue = nullptr;
    QLabel *lblRgFallbackValue = nullptr;
};
