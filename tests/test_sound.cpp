// Volume, mute, speed and channel controls: what the media component is told
// and what the bar and captions show; the channel choice on real audio too.
#include "PlayerFixture.h"

#include "GstMediaComponent.h"
#include "LineControl.h"
#include "Mp3Fixture.h"
#include "WavSamples.h"

#include <QLabel>
#include <QtTest>

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

} // namespace

class SoundTest : public QObject
{
    Q_OBJECT

private:
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
