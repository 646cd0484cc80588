// Volume, mute, speed and channel controls: what the media component is told
// and what the bar and captions show; the channel choice on real audio too.
// ReplayGain and the equalizer: the gain worked out, the choices kept in the
// settings file, the presets, and the window 均衡器.
#include "PlayerFixture.h"

#include "EqualizerWindow.h"
#include "GstEqualizerFilter.h"
#include "GstMediaComponent.h"
#include "LineControl.h"
#include "Mp3Fixture.h"
#include "PlayerSettings.h"
#include "SoundShaping.h"
#include "WavSamples.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QColor kNormal(192, 192, 255);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

// Left edge and width of the bar for volume 0, 10, ... 100: 6 px per 10 steps,
// growing 2.5 px to the left; half pixels round away from the start position.
const int kBars[][2] = {{285, 5},  {282, 11}, {280, 17}, {277, 23}, {275, 29}, {272, 35},
                        {270, 41}, {267, 47}, {265, 53}, {262, 59}, {260, 65}};

// The window on a real engine; the engine must be declared before the fixture
// so that it outlives the window.
void useEngine(PlayerFixture &player, MediaComponent &engine)
{
    player.services.media = &engine;
    player.window = std::make_unique<FrmPlayer>(player.services);
}

using namespace Qt::StringLiterals;
using Info = ReplayGainInfo;
using RG = ReplayGainSettings;

} // namespace

class SoundTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    static QWidget *bar(PlayerFixture &player) { return player.window->findChild<QWidget *>("imgSound"); }
    static void checkBar(PlayerFixture &player, int volume)
    {
        QCOMPARE(player.media.volume(), volume);
        QCOMPARE(bar(player)->x(), kBars[volume / 10][0]);
        QCOMPARE(bar(player)->width(), kBars[volume / 10][1]);
    }
    static void checkCaption(QLabel *label, const QString &text, const QColor &colour)
    {
        QCOMPARE(label->text(), text);
        QCOMPARE(label->palette().color(QPalette::WindowText), colour);
    }

private slots:
    void volumeButtons_stepByTenBetweenSilenceAndFull_barFollows()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        checkBar(player, 50);
        const int top = bar(player)->y();
        // Each press one step, a press past either end changes nothing, and no
        // half pixel is lost on the way down and back.
        for (int volume = 60; volume <= 100; volume += 10) {
            player.click("imgSoundup");
            checkBar(player, volume);
        }
        player.click("imgSoundup");
        checkBar(player, 100);
        for (int volume = 90; volume >= 0; volume -= 10) {
            player.click("imgSounddown");
            checkBar(player, volume);
        }
        player.click("imgSounddown");
        checkBar(player, 0);
        QCOMPARE(bar(player)->y(), top);
        player.click("imgSoundup", 5);
        checkBar(player, 50);

        // Changed elsewhere: the next press starts from the engine's volume.
        player.media.setVolume(95);
        player.click("imgSoundup");
        checkBar(player, 100);
        player.media.setVolume(5);
        player.click("imgSounddown");
        checkBar(player, 0);
    }

    void mute_thenVolumeUp_thenUnmute_volumeAndMuteStayIndependent()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        auto *line = player.window->findChild<LineControl *>("lineMute");
        QVERIFY(line);
        QVERIFY(line->isHidden());
        player.click("imgMute1");
        QVERIFY(player.media.mute());
        QVERIFY(!line->isHidden());
        player.click("imgSoundup");
        QVERIFY(player.media.mute());
        player.click("imgMute1");
        QVERIFY(!player.media.mute());
        QVERIFY(line->isHidden());
        checkBar(player, 60);
    }

    void speedButtons_captionColourAndRate_data()
    {
        // Presses: + faster, - slower, 0 normal; r/a: the engine starts refusing/accepting rates.
        QTest::addColumn<QString>("presses");
        QTest::addColumn<bool>("realEngine");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<double>("rate");
        QTest::newRow("faster twice") << "++" << false << "快速 2" << kRed << 1.2;
        QTest::newRow("one back") << "++-" << false << "快速 1" << kRed << 1.1;
        QTest::newRow("then normal") << "++-0" << false << "原速度" << kNormal << 1.0;
        QTest::newRow("slower from normal") << "++-0-" << false << "慢速 1" << kGreen << 0.9;
        QTest::newRow("slower thrice") << "++-0---" << false << "慢速 3" << kGreen << 0.7;
        QTest::newRow("back up to normal") << "++-0---+++" << false << "原速度" << kNormal << 1.0;
        // A refused rate keeps caption and step count: one step back from
        // "faster 1" is normal only if no refused press counted.
        QTest::newRow("refused") << "+r+---" << false << "快速 1" << kRed << 1.1;
        QTest::newRow("refused, then one down") << "+r+---a-" << false << "原速度" << kNormal << 1.0;
        // 0.1 is the last rate above the real engine's floor of 0.05.
        QTest::newRow("real engine, slowest") << QString(12, '-') << true << "慢速 9" << kGreen << 0.1;
    }

    void speedButtons_captionColourAndRate()
    {
        QFETCH(QString, presses);
        QFETCH(bool, realEngine);
        QFETCH(QString, caption);
        QFETCH(QColor, colour);
        QFETCH(double, rate);
        std::optional<GstMediaComponent> engine;
        PlayerFixture player;
        if (realEngine)
            useEngine(player, engine.emplace(QStringLiteral("fakesink")));
        QVERIFY(player.load());
        for (const QChar press : presses) {
            if (press == 'r' || press == 'a')
                player.media.refuseRates(press == 'r');
            else
                player.click(press == '+' ? "imgSpeedup" : press == '-' ? "imgSpeeddown" : "imgSpeed0");
        }
        checkCaption(player.label("lblSpeed"), caption, colour);
        QCOMPARE(player.services.media->rate(), rate);
    }

    void replayGain_gainFromTagsAndChoices_data()
    {
        QTest::addColumn<RG>("settings");
        QTest::addColumn<Info>("info");
        QTest::addColumn<double>("gain");
        QTest::addColumn<bool>("limit");
        const Info both{-7, 0.5, -9, 0.9};
        QTest::newRow("track mode") << RG{} << both << -7.0 << false;
        QTest::newRow("album mode") << RG{RG::Album} << both << -9.0 << false;
        QTest::newRow("track mode, album gain only") << RG{} << Info{{}, {}, -9, 0.9} << -9.0 << false;
        QTest::newRow("album mode, track gain only") << RG{RG::Album} << Info{-7, 0.5} << -7.0 << false;
        QTest::newRow("off") << RG{RG::Off, 6} << both << 0.0 << false;
        QTest::newRow("pre-amp") << RG{RG::Track, 4} << both << -3.0 << false;
        QTest::newRow("lift held by the peak") << RG{RG::Track, 15} << both << 6.0206 << false;
        QTest::newRow("lift, clipping allowed") << RG{RG::Track, 15, false} << both << 8.0 << true;
        QTest::newRow("lift, no peak known") << RG{} << Info{3} << 3.0 << true;
        QTest::newRow("untagged: the fallback alone")
            << RG{RG::Track, 4, true, -6} << Info{} << -6.0 << false;
        QTest::newRow("untagged, lifted") << RG{RG::Track, 0, true, 5} << Info{} << 5.0 << true;
        QTest::newRow("beyond what can be applied") << RG{RG::Track, 15, false} << Info{55} << 20.0 << true;
    }

    void replayGain_gainFromTagsAndChoices()
    {
        QFETCH(RG, settings);
        QFETCH(Info, info);
        QFETCH(double, gain);
        QFETCH(bool, limit);
        const ReplayGain::Result result = ReplayGain::compute(settings, info);
        QVERIFY2(std::abs(result.gainDb - gain) < 1e-3, qPrintable(QString::number(result.gainDb)));
        QCOMPARE(result.limit, limit);
    }

    // A tone through the equalizer's filters, fed in uneven blocks; the change
    // of its level in the channel that carries it, the other channels silent.
    void equalizerBands_shapeTheirOctave_only_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("band");
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<double>("preAmpDb");
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("changeDb");
        QTest::newRow("1K cut, at 1 kHz") << 2 << 5 << -12.0 << 0.0 << 1000.0 << -12.0;
        QTest::newRow("1K cut, an octave away") << 2 << 5 << -12.0 << 0.0 << 2000.0 << -2.5;
        QTest::newRow("1K cut, far away") << 2 << 5 << -12.0 << 0.0 << 100.0 << 0.0;
        QTest::newRow("31 lifted, mono") << 1 << 0 << 12.0 << 0.0 << 31.0 << 12.0;
        QTest::newRow("16K lifted, six channels") << 6 << 9 << 12.0 << 0.0 << 16000.0 << 12.0;
        QTest::newRow("flat, the pre-amp alone") << 2 << 0 << 0.0 << -6.0 << 440.0 << -6.0;
    }

    void equalizerBands_shapeTheirOctave_only()
    {
        QFETCH(int, channels);
        QFETCH(int, band);
        QFETCH(double, gainDb);
        QFETCH(double, preAmpDb);
        QFETCH(double, toneHz);
        QFETCH(double, changeDb);
        constexpr int kRate = 44100, kFrames = kRate / 2;
        std::vector<float> sound(size_t(kFrames * channels));
        for (int i = 0; i < kFrames; ++i)
            sound[size_t(i * channels + channels - 1)] =
                float(0.25 * std::sin(2 * M_PI * toneHz * i / kRate));
        const std::vector<float> tone = sound;
        EqualizerBands bands;
        bands.setFormat(kRate, channels);
        EqualizerSettings settings;
        settings.preAmpDb = preAmpDb;
        settings.bandsDb[band] = gainDb;
        bands.design(settings);
        for (int done = 0; done < kFrames; done += 1000)
            bands.process(sound.data() + size_t(done * channels), std::min(1000, kFrames - done));
        // The latter half, where the filters have settled; levels in dB.
        auto level = [&](const std::vector<float> &s, int channel) {
            double sum = 0;
            for (int i = kFrames / 2; i < kFrames; ++i)
                sum += double(s[size_t(i * channels + channel)]) * s[size_t(i * channels + channel)];
            return sum > 0 ? 10 * std::log10(sum) : -200.0;
        };
        QVERIFY2(std::abs(level(sound, channels - 1) - level(tone, channels - 1) - changeDb) < 0.3,
                 qPrintable(QString::number(level(sound, channels - 1) - level(tone, channels - 1))));
        for (int c = 0; c + 1 < channels; ++c)
            QCOMPARE(level(sound, c), -200.0);
    }

    // Whatever the file holds, the engine gets sane values at start; what the
    // user changes is there at the next start.
    void soundShaping_settingsFile_readSanely_andKeptAcrossStarts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<RG>("replayGain");
        QTest::addColumn<EqualizerSettings>("equalizer");
        QTest::addColumn<QStringList>("ownPresets");
        EqualizerSettings set{true, -2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
        QTest::newRow("no file") << QByteArray() << RG{} << EqualizerSettings{} << QStringList();
        QTest::newRow("a run's choices")
            << "[replaygain]\nmode=album\npreamp=-3\nfallback=-6\npreventClipping=false\n[equalizer]\n"
               "enabled=true\nvalues=-2 1 2 3 4 5 6 7 8 9 10\npresets\\%U6211=0 1 1 1 1 1 1 1 1 1 1\n"_ba
            << RG{RG::Album, -3, false, -6} << set << QStringList{u"我"_s};
        set = {false, -12, {12}};
        QTest::newRow("absurd values clamped")
            << "[replaygain]\nmode=loud\npreamp=99\nfallback=-1e300\n[equalizer]\nenabled=maybe\n"
               "values=-50 99 0 0 0 0 0 0 0 0 0\n"_ba
            << RG{RG::Track, 15, true, -15} << set << QStringList();
        QTest::newRow("broken lines ignored")
            << "[equalizer]\nvalues=1 2 3\npresets\\bad=x\npresets\\%U6447%U6EDA=1 1 1 1 1 1 1 1 1 1 1\n"
               "presets\\a%2Fb=1 1 1 1 1 1 1 1 1 1 1\n"_ba
            << RG{} << EqualizerSettings{} << QStringList();
    }

    void soundShaping_settingsFile_readSanely_andKeptAcrossStarts()
    {
        QFETCH(QByteArray, content);
        QFETCH(RG, replayGain);
        QFETCH(EqualizerSettings, equalizer);
        QFETCH(QStringList, ownPresets);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"settings.ini"_s);
        QFile written(file);
        QVERIFY(content.isEmpty() || (written.open(QIODevice::WriteOnly) && written.write(content) > 0));
        written.close();
        FakeMediaComponent media;
        const RG changed{RG::Off, 7, false, 3};
        {
            PlayerSettings settings(file);
            SoundShaping sound(settings, &media);
            QCOMPARE(media.replayGain, replayGain);
            QCOMPARE(media.equalizer, equalizer);
            QStringList names;
            for (const auto &preset : sound.presets().mid(Equalizer::builtInPresets().size()))
                names << preset.name;
            QCOMPARE(names, ownPresets);
            sound.setReplayGain(changed);
            sound.applyPreset(u"摇滚"_s);
        } // written as it goes
        PlayerSettings settings(file);
        SoundShaping again(settings, &media);
        QCOMPARE(media.replayGain, changed);
        QCOMPARE(again.currentPreset(), u"摇滚"_s);
    }

    void presets_ownPresetsSavedAndDeleted_builtInsKept_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::newRow("a name") << u"我的 耳机"_s << true;
        QTest::newRow("longest") << QString(SoundShaping::kMaxPresetName, u'长') << true;
        QTest::newRow("too long") << QString(SoundShaping::kMaxPresetName + 1, u'长') << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("a built-in's") << u"平坦"_s << false;
        QTest::newRow("a group of the file") << u"a/b"_s << false;
        QTest::newRow("control character") << u"a\nb"_s << false;
    }

    void presets_ownPresetsSavedAndDeleted_builtInsKept()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        PlayerSettings settings(dir.filePath(u"settings.ini"_s));
        SoundShaping sound(settings, nullptr);
        sound.setEqualizer({true, -1, {3}});
        QCOMPARE(sound.savePreset(name), saved);
        sound.applyPreset(u"平坦"_s);
        sound.applyPreset(name);
        const EqualizerSettings expected = saved ? EqualizerSettings{true, -1, {3}} : EqualizerSettings{true};
        QCOMPARE(sound.equalizer(), expected);
        QCOMPARE(SoundShaping(settings, nullptr).presets().size(),
                 Equalizer::builtInPresets().size() + saved);
        sound.deletePreset(name);
        sound.deletePreset(u"平坦"_s);
        QCOMPARE(SoundShaping(settings, nullptr).presets(), Equalizer::builtInPresets());
    }

    void equalizerWindow_captionsAndSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        const char *const rows[][2] = {
            {"chkEqualizer", "开启"},    {"lblPreset", "预设"},     {"cmdSave", "保存"},
            {"cmdDelete", "删除"},       {"lblPreamp", "前级"},     {"lblBand0", "31"},
            {"lblBand5", "1K"},          {"lblBand9", "16K"},       {"lblReplayGain", "回放增益"},
            {"chkClipping", "防止削波"}, {"lblRgPreamp", "预放大"}, {"lblRgFallback", "无标签"}};
        for (const auto &[name, caption] : rows)
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(caption);
    }

    void equalizerWindow_captionsAndSize()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        PlayerSettings settings(m_config.filePath(u"settings.ini"_s));
        SoundShaping sound(settings, nullptr);
        EqualizerWindow window(&sound, nullptr);
        QCOMPARE(window.objectName(), u"均衡器"_s);
        QCOMPARE(window.windowTitle(), u"均衡器"_s);
        QCOMPARE(window.size(), QSize(EqualizerWindow::kWidth, EqualizerWindow::kHeight));
        QWidget *control = window.findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->property("text").toString(), caption);
    }

    // The menu row opens it; each slider is named as its label and moves the
    // sound as a drag would, also from the accessibility bus; presets apply.
    void equalizerWindow_slidersPresetsAndMenuRow_reachTheEngine()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        PlayerSettings settings(m_config.filePath(u"window.ini"_s));
        SoundShaping sound(settings, &player.media);
        EqualizerWindow::addMenuRow(player.window.get(), &sound, &player.prompts);
        auto *row = player.window->findChild<QAction *>(u"均衡器"_s);
        QVERIFY(row);
        row->trigger();
        auto *window = player.window->findChild<EqualizerWindow *>(u"均衡器"_s);
        QVERIFY(window && window->isVisible());
        row->trigger();
        QCOMPARE(player.window->findChildren<EqualizerWindow *>().size(), 1);

        const QList<QSlider *> sliders = window->findChildren<QSlider *>();
        QCOMPARE(sliders.size(), 13);
        for (QSlider *slider : sliders) {
            const QString label = slider->objectName().replace(u"sld"_s, u"lbl"_s);
            QCOMPARE(QAccessible::queryAccessibleInterface(slider)->text(QAccessible::Name),
                     window->findChild<QLabel *>(label)->text());
        }
        QAccessible::queryAccessibleInterface(window->findChild<QCheckBox *>(u"chkEqualizer"_s))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
        auto *band = window->findChild<QSlider *>(u"sldBand5"_s);
        QAccessible::queryAccessibleInterface(band)->valueInterface()->setCurrentValue(-12);
        QCOMPARE(player.media.equalizer, (EqualizerSettings{true, 0, {0, 0, 0, 0, 0, -12}}));
        QAccessible::queryAccessibleInterface(window->findChild<QSlider *>(u"sldRgFallback"_s))
            ->valueInterface()
            ->setCurrentValue(-4);
        QCOMPARE(player.media.replayGain.fallbackDb, -4.0);
        QCOMPARE(window->findChild<QLabel *>(u"lblRgFallbackValue"_s)->text(), u"-4 dB"_s);

        auto *presets = window->findChild<QComboBox *>(u"cboPreset"_s);
        presets->setCurrentText(u"我的"_s);
        window->findChild<QPushButton *>(u"cmdSave"_s)->click();
        presets->setCurrentIndex(presets->findText(u"重低音"_s));
        emit presets->activated(presets->currentIndex());
        QCOMPARE(band->value(), 0);
        QCOMPARE(player.media.equalizer.bandsDb[0], 8.0);
        presets->setCurrentIndex(presets->findText(u"我的"_s));
        emit presets->activated(presets->currentIndex());
        QCOMPARE(band->value(), -12);
        player.prompts.answerNext(Prompts::AnswerYes);
        window->findChild<QPushButton *>(u"cmdDelete"_s)->click();
        QCOMPARE(presets->findText(u"我的"_s), -1);
        presets->setCurrentText(u"平坦"_s);
        window->findChild<QPushButton *>(u"cmdSave"_s)->click();
        QCOMPARE(player.prompts.shown().size(), 2); // the question, and the refused name
        QCOMPARE(player.prompts.unexpected(), 0);
    }

    void channel_cycle_captionsColoursAndBalance_speedLabelKeepsItsColour()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.click("imgSpeedup");
        const struct
        {
            QString caption;
            QColor colour;
            int balance;
        } cycle[] = {{"左声道", kGreen, -100},
                     {"右声道", kRed, 100},
                     {"立体声", kNormal, 0},
                     {"左声道", kGreen, -100}};
        for (const auto &step : cycle) {
            QTest::mouseClick(player.label("lblCsc"), Qt::LeftButton);
            checkCaption(player.label("lblCsc"), step.caption, step.colour);
            QCOMPARE(player.media.balance(), step.balance);
        }
        checkCaption(player.label("lblSpeed"), QStringLiteral("快速 1"), kRed);
    }

    void channel_realEngine_silencesTheOtherSide_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<bool>("leftOnly");
        QTest::newRow("left") << 1 << true;
        QTest::newRow("right") << 2 << false;
    }

    void channel_realEngine_silencesTheOtherSide()
    {
        QFETCH(int, clicks);
        QFETCH(bool, leftOnly);
        QTemporaryDir dir;
        const QString mp3 = dir.filePath(QStringLiteral("tone.mp3"));
        QVERIFY(Mp3Fixture::make(mp3, 1));
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        // No clock in a file sink: the second of audio is decoded at full speed.
        GstMediaComponent engine(
            QStringLiteral("audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink location=") + wav);
        bool played = false;
        bool ended = false;
        connect(&engine, &MediaComponent::statusChange, this, [&] {
            played = played || engine.playState() == MediaComponent::Playing;
            ended = ended || (played && engine.playState() == MediaComponent::Stopped);
        });
        PlayerFixture player;
        useEngine(player, engine);
        QVERIFY(player.load());
        player.window->state().playMode = 3; // in order: the one entry plays once
        player.prompts.chooseFilesNext({mp3});
        player.click("imgAdd");
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(player.label("lblCsc"), Qt::LeftButton);
        QCOMPARE(engine.balance(), leftOnly ? -100 : 100);

        player.click("imgPlay");
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        const QList<qint16> samples = WavSamples::read(wav);
        QVERIFY2(samples.size() > 80000, qPrintable(QStringLiteral("%1 samples").arg(samples.size())));
        const double left = WavSamples::levelDb(samples, 0, samples.size(), 2);
        const double right = WavSamples::levelDb(samples, 1, samples.size(), 2);
        const double heard = leftOnly ? left : right;
        const double silent = leftOnly ? right : left;
        QVERIFY2(heard > -30 && silent < heard - 40,
                 qPrintable(QStringLiteral("left %1 dB, right %2 dB").arg(left).arg(right)));
    }
};

QTEST_MAIN(SoundTest)
#include "test_sound.moc"
