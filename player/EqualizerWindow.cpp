#include "EqualizerWindow.h"

#include "FrmPlayer.h"
#include "Pictures.h"
#include "SoundShaping.h"

#include "Prompts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>

#include <cmath>
#include <memory>

namespace {

// The band sliders: where the first stands, and the room each takes.
constexpr int kBandsLeft = 100;
constexpr int kBandStep = 32;
constexpr int kSliderTop = 50;
constexpr int kSliderHeight = 120;

const QString kTitle = QStringLiteral("提示:");

QString decibelText(int db)
{
    return (db > 0 ? QStringLiteral("+%1 dB") : QStringLiteral("%1 dB")).arg(db);
}

int rounded(double db)
{
    return int(std::lround(db));
}

} // namespace

EqualizerWindow::EqualizerWindow(SoundShaping *sound, Prompts *prompts, QWidget *parent)
    : QDialog(parent), m_sound(sound), m_prompts(prompts)
{
    setObjectName(QStringLiteral("均衡器"));
    setWindowTitle(QStringLiteral("均衡器"));
    setWindowIcon(QIcon(Pictures::path("app.svg")));
    setFixedSize(kWidth, kHeight);

    chkEqualizer = new QCheckBox(QStringLiteral("开启"), this);
    chkEqualizer->setObjectName(QStringLiteral("chkEqualizer"));
    chkEqualizer->setGeometry(12, 12, 64, 20);
    QLabel *lblPreset = addLabel("lblPreset", QStringLiteral("预设"), {88, 12, 32, 20});
    cboPreset = new QComboBox(this);
    cboPreset->setObjectName(QStringLiteral("cboPreset"));
    cboPreset->setGeometry(122, 10, 160, 24);
    cboPreset->setEditable(true);
    cboPreset->setInsertPolicy(QComboBox::NoInsert);
    cboPreset->lineEdit()->setMaxLength(SoundShaping::kMaxPresetName);
    cboPreset->lineEdit()->setPlaceholderText(QStringLiteral("自定义"));
    cboPreset->setAccessibleName(QStringLiteral("预设"));
    lblPreset->setBuddy(cboPreset);
    cmdSave = new QPushButton(QStringLiteral("保存"), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setGeometry(292, 10, 64, 24);
    cmdDelete = new QPushButton(QStringLiteral("删除"), this);
    cmdDelete->setObjectName(QStringLiteral("cmdDelete"));
    cmdDelete->setGeometry(364, 10, 64, 24);

    const int zero = kSliderTop + kSliderHeight / 2;
    addLabel("lblMax", QStringLiteral("+12"), {8, kSliderTop, 32, 14}, Qt::AlignRight | Qt::AlignTop);
    addLabel("lblZero", QStringLiteral("0"), {8, zero - 7, 32, 14}, Qt::AlignRight | Qt::AlignVCenter);
    addLabel("lblMin", QStringLiteral("-12"), {8, kSliderTop + kSliderHeight - 14, 32, 14},
             Qt::AlignRight | Qt::AlignBottom);
    const auto eqSlider = [&](const char *name, const QString &label, int left) {
        return addSlider(name, label, Qt::Vertical, int(Equalizer::kMinDb), int(Equalizer::kMaxDb),
                         {left + 4, kSliderTop, 24, kSliderHeight});
    };
    sldPreamp = eqSlider("sldPreamp", QStringLiteral("前级"), 42);
    addLabel("lblPreamp", QStringLiteral("前级"), {38, 174, 40, 14}, Qt::AlignCenter);
    for (int band = 0; band < EqualizerSettings::kBands; ++band) {
        const QString label = Equalizer::bandLabel(band);
        const int left = kBandsLeft + band * kBandStep;
        sldBand[band] = eqSlider(("sldBand" + std::to_string(band)).c_str(), label, left);
        addLabel(("lblBand" + std::to_string(band)).c_str(), label, {left, 174, kBandStep, 14},
                 Qt::AlignCenter);
    }

    QLabel *lblReplayGain = addLabel("lblReplayGain", QStringLiteral("回放增益"), {12, 210, 56, 20});
    cboReplayGain = new QComboBox(this);
    cboReplayGain->setObjectName(QStringLiteral("cboReplayGain"));
    cboReplayGain->setGeometry(70, 208, 96, 24);
    cboReplayGain->addItems({QStringLiteral("关闭"), QStringLiteral("按音轨"), QStringLiteral("按专辑")});
    cboReplayGain->setAccessibleName(QStringLiteral("回放增益"));
    lblReplayGain->setBuddy(cboReplayGain);
    chkClipping = new QCheckBox(QStringLiteral("防止削波"), this);
    chkClipping->setObjectName(QStringLiteral("chkClipping"));
    chkClipping->setGeometry(180, 210, 90, 20);
    const int lowest = int(ReplayGain::kMinUserDb);
    const int highest = int(ReplayGain::kMaxUserDb);
    addLabel("lblRgPreamp", QStringLiteral("预放大"), {12, 244, 44, 20});
    sldRgPreamp = addSlider("sldRgPreamp", QStringLiteral("预放大"), Qt::Horizontal, lowest, highest,
                            {58, 244, 110, 20});
    lblRgPreampValue = addLabel("lblRgPreampValue", QString(), {172, 244, 48, 20});
    addLabel("lblRgFallback", QStringLiteral("无标签"), {228, 244, 44, 20});
    sldRgFallback = addSlider("sldRgFallback", QStringLiteral("无标签"), Qt::Horizontal, lowest, highest,
                              {274, 244, 110, 20});
    lblRgFallbackValue = addLabel("lblRgFallbackValue", QString(), {388, 244, 48, 20});

    refresh();
    connect(m_sound, &SoundShaping::changed, this, &EqualizerWindow::refresh);
    // Toggled, not clicked: a screen reader toggles a check box without a click.
    connect(chkEqualizer, &QCheckBox::toggled, this, &EqualizerWindow::chkEqualizer_Click);
    connect(cboPreset, &QComboBox::activated, this, &EqualizerWindow::cboPreset_Click);
    connect(cboPreset, &QComboBox::editTextChanged, this, [this](const QString &name) {
        cmdDelete->setEnabled(!name.isEmpty() && !m_sound->isBuiltIn(name));
    });
    connect(cmdSave, &QPushButton::clicked, this, &EqualizerWindow::cmdSave_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &EqualizerWindow::cmdDelete_Click);
    // The value changes alike by a drag, the keys, the wheel and the accessibility bus.
    for (QSlider *slider : findChildren<QSlider *>()) {
        const bool replayGain = slider == sldRgPreamp || slider == sldRgFallback;
        connect(slider, &QSlider::valueChanged, this,
                replayGain ? &EqualizerWindow::replayGain_Change : &EqualizerWindow::sldEqualizer_Change);
    }
    connect(cboReplayGain, &QComboBox::activated, this, &EqualizerWindow::replayGain_Change);
    connect(chkClipping, &QCheckBox::toggled, this, &EqualizerWindow::replayGain_Change);
}

void EqualizerWindow::addMenuRow(FrmPlayer *player, SoundShaping *sound, Prompts *prompts)
{
    auto *row = new QAction(QStringLiteral("均衡器"), player);
    row->setObjectName(QStringLiteral("均衡器"));
    auto window = std::make_shared<QPointer<EqualizerWindow>>();
    connect(row, &QAction::triggered, player, [=] {
        if (!*window) {
            *window = new EqualizerWindow(sound, prompts, player);
            (*window)->move(player->x(), player->frameGeometry().bottom() + 8);
        }
        (*window)->show();
        (*window)->raise();
        (*window)->activateWindow();
    });
    player->addMenuItem(row);
}

QLabel *EqualizerWindow::addLabel(const char *name, const QString &text, const QRect &geometry,
                                  Qt::Alignment alignment)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

QSlider *EqualizerWindow::addSlider(const char *name, const QString &label, Qt::Orientation orientation,
                                    int lowest, int highest, const QRect &geometry)
{
    auto *slider = new QSlider(orientation, this);
    slider->setObjectName(QLatin1String(name));
    slider->setAccessibleName(label);
    slider->setRange(lowest, highest);
    slider->setPageStep(3);
    slider->setGeometry(geometry);
    return slider;
}

void EqualizerWindow::refresh()
{
    const EqualizerSettings &eq = m_sound->equalizer();
    QSignalBlocker blockSwitch(chkEqualizer);
    chkEqualizer->setChecked(eq.enabled);
    {
        QSignalBlocker block(sldPreamp);
        sldPreamp->setValue(rounded(eq.preAmpDb));
    }
    for (int band = 0; band < EqualizerSettings::kBands; ++band) {
        QSignalBlocker block(sldBand[band]);
        sldBand[band]->setValue(rounded(eq.bandsDb[band]));
    }
    QStringList names;
    for (const Equalizer::Preset &preset : m_sound->presets())
        names.append(preset.name);
    const QString current = m_sound->currentPreset();
    QSignalBlocker blockPreset(cboPreset);
    QStringList shown;
    for (int i = 0; i < cboPreset->count(); ++i)
        shown.append(cboPreset->itemText(i));
    if (shown != names) {
        const QString typed = cboPreset->currentText();
        cboPreset->clear();
        cboPreset->addItems(names);
        cboPreset->setEditText(typed);
    }
    // A name being typed stays until the values change.
    if (!current.isEmpty())
        cboPreset->setCurrentIndex(int(names.indexOf(current)));
    else if (names.contains(cboPreset->currentText()))
        cboPreset->setEditText(QString());
    cmdDelete->setEnabled(!cboPreset->currentText().isEmpty() &&
                          !m_sound->isBuiltIn(cboPreset->currentText()));

    const ReplayGainSettings &rg = m_sound->replayGain();
    QSignalBlocker blockMode(cboReplayGain);
    cboReplayGain->setCurrentIndex(rg.mode);
    QSignalBlocker blockClipping(chkClipping);
    chkClipping->setChecked(rg.preventClipping);
    for (auto [slider, label, db] : {std::tuple{sldRgPreamp, lblRgPreampValue, rg.preAmpDb},
                                     std::tuple{sldRgFallback, lblRgFallbackValue, rg.fallbackDb}}) {
        QSignalBlocker block(slider);
        slider->setValue(rounded(db));
        label->setText(decibelText(rounded(db)));
    }
}

void EqualizerWindow::chkEqualizer_Click()
{
    EqualizerSettings eq = m_sound->equalizer();
    eq.enabled = chkEqualizer->isChecked();
    m_sound->setEqualizer(eq);
}

void EqualizerWindow::sldEqualizer_Change()
{
    EqualizerSettings eq = m_sound->equalizer();
    eq.preAmpDb = sldPreamp->value();
    for (int band = 0; band < EqualizerSettings::kBands; ++band)
        eq.bandsDb[band] = sldBand[band]->value();
    m_sound->setEqualizer(eq);
}

void EqualizerWindow::cboPreset_Click(int index)
{
    m_sound->applyPreset(cboPreset->itemText(index));
}

void EqualizerWindow::cmdSave_Click()
{
    const QString name = cboPreset->currentText().trimmed();
    if (!m_sound->savePreset(name)) {
        m_prompts->message(this, kTitle,
                           QStringLiteral("无法保存预设：名称须为1到%1个字，不能含有“/”或“\\”，"
                                          "不能与内置预设同名，自己的预设最多%2个。")
                               .arg(SoundShaping::kMaxPresetName)
                               .arg(SoundShaping::kMaxUserPresets),
                           Prompts::Ok, Prompts::Information);
    }
}

void EqualizerWindow::cmdDelete_Click()
{
    const QString name = cboPreset->currentText();
    if (name.isEmpty() || m_sound->isBuiltIn(name))
        return;
    const int answer = m_prompts->message(this, kTitle, QStringLiteral("确定删除预设“%1”吗？").arg(name),
                                          Prompts::YesNo, Prompts::Question);
    // The box ran an event loop: the preset may have gone meanwhile, which deleting again allows.
    if (answer == Prompts::AnswerYes)
        m_sound->deletePreset(name);
    refresh();
}

void EqualizerWindow::replayGain_Change()
{
    ReplayGainSettings rg = m_sound->replayGain();
    rg.mode = ReplayGainSettings::Mode(cboReplayGain->currentIndex());
    rg.preventClipping = chkClipping->isChecked();
    rg.preAmpDb = sldRgPreamp->value();
    rg.fallbackDb = sldRgFallback->value();
    m_sound->setReplayGain(rg);
    refresh(); // the value labels
}

void EqualizerWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient shell(0, 0, 0, height());
    shell.setColorAt(0, QColor(0x26, 0x2c, 0x3b));
    shell.setColorAt(0.45, QColor(0x1a, 0x1f, 0x2a));
    shell.setColorAt(1, QColor(0x10, 0x13, 0x1a));
    painter.fillRect(rect(), shell);
    painter.setRenderHint(QPainter::Antialiasing);
    // The bands' screen, with the 0 dB line across it.
    const QRectF screen(6.5, 42.5, width() - 13, 150);
    painter.setPen(QColor(0x6a, 0x74, 0x94, 90));
    painter.setBrush(QColor(0x05, 0x07, 0x0c));
    painter.drawRoundedRect(screen, 4, 4);
    const double zero = kSliderTop + kSliderHeight / 2 + 0.5;
    painter.setPen(QColor(0x8c, 0x8c, 0xff, 40));
    painter.drawLine(QPointF(44, zero), QPointF(screen.right() - 6, zero));
    painter.setPen(QColor(0, 0, 0, 115));
    painter.drawLine(QPointF(12, 200.5), QPointF(width() - 12, 200.5));
    painter.setPen(QColor(0x8c, 0x96, 0xb8, 30));
    painter.drawLine(QPointF(12, 201.5), QPointF(width() - 12, 201.5));
}
