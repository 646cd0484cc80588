// How the player ends: by a process signal as by its own Quit, with the remote
// control gone before the controls it watches, and never by a write that
// outgrows the file-size limit.
#include "PlayerFixture.h"

#include "AtomicFile.h"
#include "FileTricks.h"
#include "Mpris.h"
#include "ProcessSignals.h"
#include "TestSetUp.h"
#include "WindowPresence.h"

#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

constexpr int kWaitMs = 20000;
const QString kCaption = QStringLiteral("TamselMP3Player");

} // namespace

class ShutdownTest : public QObject
{
    Q_OBJECT
    PrivateRuntime m_runtime;

private slots:
    void initTestCase() { QVERIFY(m_runtime.isValid()); }

    void quitSignal_endsTheRealPlayerAsQuitDoes_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void quitSignal_endsTheRealPlayerAsQuitDoes()
    {
        QFETCH(int, signalNumber);
        QVERIFY(!WindowPresence::exists(kCaption));
        // In a program folder of its own, so that it writes its documents there.
        QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("TamselMP3Player"));
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_PLAYER_BINARY), program));
        QProcess player;
        player.setProcessChannelMode(QProcess::ForwardedChannels);
        player.start(program, QStringList());
        QVERIFY(player.waitForStarted(kWaitMs));
        QVERIFY(QTest::qWaitFor([] { return WindowPresence::exists(kCaption); }, kWaitMs));

        QCOMPARE(::kill(pid_t(player.processId()), signalNumber), 0);
        QVERIFY(player.waitForFinished(kWaitMs));
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(!WindowPresence::exists(kCaption));
    }

    void fileSizeLimit_failsTheWriteInsteadOfEndingTheProgram()
    {
        ProcessSignals processSignals;
        QTemporaryDir folder;
        QString reason;
        {
            // The signal is left as the player has it: by default it would end this test.
            FileSizeLimit limit(100, true);
            QVERIFY(limit.active());
            QVERIFY(
                !AtomicFile::write(folder.filePath(QStringLiteral("big")), QByteArray(1000, 'x'), &reason));
        }
        QCOMPARE(reason, QStringLiteral("文件超过了允许的大小"));
        QVERIFY(AtomicFile::write(folder.filePath(QStringLiteral("big")), QByteArray(1000, 'x')));
    }

    void windowEnd_remoteControlGoesBeforeTheList()
    {
        auto player = std::make_unique<PlayerFixture>();
        QVERIFY(player->load());
        player->prompts.chooseFilesNext(PlayerFixture::paths(3));
        player->click("imgAdd");
        QPointer<MprisService> service = new MprisService(player->window.get());
        bool serviceLeftFirst = false;
        connect(player->listName(), &QObject::destroyed, this, [&] { serviceLeftFirst = service.isNull(); });
        player.reset();
        QVERIFY(serviceLeftFirst);
    }
};

QTEST_MAIN(ShutdownTest)
#include "test_shutdown.moc"
