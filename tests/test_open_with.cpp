// Opening files with the player: arguments on the command line, and a second
// start handing its files over the session bus to the player already running.
// Runs on a private session bus; the real program runs in a program folder of
// its own, on a silent audio sink.
#include "AppInfo.h"
#include "AppInstance.h"
#include "BoundedText.h"
#include "FileTricks.h"
#include "Mp3Fixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QtTest>

#ifndef TAMSEL_PLAYER_PROGRAM
#error "the test needs the player program's path"
#endif

namespace {

const QString kMpris = QStringLiteral("org.mpris.MediaPlayer2.TamselMP3Player");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
constexpr int kWaitMs = 20000;

} // namespace

class OpenWithTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_media;
    QTemporaryDir m_programFolder;
    QString m_program;
    QDBusConnection m_client = QDBusConnection(QString());
    QList<QProcess *> m_players;

    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = m_client.asyncCall(message);
        // The answer may come from this process: wait by spinning its event loop.
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, kWaitMs);
        return pending.reply();
    }
    // A property of org.mpris.MediaPlayer2.<interface>.
    QVariant mpris(const QString &service, const char *interface, const char *name)
    {
        const QDBusMessage reply = call(
            service, kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
            {"org.mpris.MediaPlayer2." + QString::fromLatin1(interface), QString::fromLatin1(name)});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    int trackCount(const QString &service = kMpris)
    {
        return int(qdbus_cast<QList<QDBusObjectPath>>(mpris(service, "TrackList", "Tracks")).size());
    }
    QString title()
    {
        return qdbus_cast<QVariantMap>(mpris(kMpris, "Player", "Metadata")).value("xesam:title").toString();
    }
    bool onBus(const QString &name)
    {
        return QTest::qWaitFor([&] { return m_client.interface()->isServiceRegistered(name).value(); },
                               kWaitMs);
    }
    QProcess *startPlayer(const QStringList &arguments)
    {
        auto *player = new QProcess(this);
        player->setEnvironment(QProcess::systemEnvironment() << QStringLiteral("TAMSEL_AUDIO_SINK=fakesink"));
        player->setWorkingDirectory(m_media.path()); // relative arguments are taken from here
        player->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player->start(m_program, arguments);
        m_players.append(player);
        return player;
    }
    void quit(const QString &service, QProcess *player)
    {
        call(service, kMprisPath, QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Quit"));
        // It may have ended while the call's answer was awaited.
        QTRY_COMPARE_WITH_TIMEOUT(player->state(), QProcess::NotRunning, kWaitMs);
        QCOMPARE(player->exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the test runs under its own session bus");
        m_client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        QVERIFY(m_client.isConnected());
        for (int i = 1; i <= 3; ++i)
            QVERIFY(Mp3Fixture::make(m_media.filePath(QStringLiteral("%1.mp3").arg(i)), 4,
                                     QStringLiteral("Title %1").arg(i)));
        // The player writes its help documents into its own folder.
        m_program = m_programFolder.filePath(QStringLiteral("TamselMP3Player"));
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_PLAYER_PROGRAM), m_program));
    }

    void cleanup()
    {
        for (QProcess *player : std::as_const(m_players)) {
            player->kill();
            player->waitForFinished(kWaitMs);
        }
        qDeleteAll(m_players);
        m_players.clear();
    }

    void filesFromArguments_takesLocalFilesOnly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("relative and absolute paths") << QStringList{"a.mp3", "../b.mp3", "/m/c d.mp3"}
                                                     << QStringList{"/w/d/a.mp3", "/w/b.mp3", "/m/c d.mp3"};
        QTest::newRow("file URIs") << QStringList{"file:///m/%E6%AD%8C%20x.mp3", "file:/m/y.m3u"}
                                   << QStringList{"/m/歌 x.mp3", "/m/y.m3u"};
        QTest::newRow("other addresses and options are left out")
            << QStringList{"http://example.org/a.mp3", "--verbose", "-x", "", "z.mp3"}
            << QStringList{"/w/d/z.mp3"};
        QTest::newRow("NUL in a URI") << QStringList{"file:///m/a%00b.mp3"} << QStringList();
    }

    void filesFromArguments_takesLocalFilesOnly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, files);
        QCOMPARE(AppInstance::filesFromArguments(arguments, QStringLiteral("/w/d")), files);
    }

    void open_overTheBus_givesFilesOrAnError_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("activations");
        const auto row = [](const char *name, const char *method, const QVariantList &arguments,
                            const QString &error, const QStringList &files = {}, int activations = 0) {
            QTest::newRow(name) << QString::fromLatin1(method) << arguments << error << files << activations;
        };
        const QVariantMap none;
        const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        row("local files", "Open", {QStringList{"file:///m/a.mp3", "file:///m/%E6%AD%8C.m3u"}, none}, {},
            {"/m/a.mp3", "/m/歌.m3u"});
        row("web address", "Open", {QStringList{"file:///m/a.mp3", "http://example.org/b.mp3"}, none},
            invalid);
        row("NUL in a path", "Open", {QStringList{"file:///m/a%00b.mp3"}, none}, invalid);
        row("path longer than a path can be", "Open",
            {QStringList{"file:///m/a.mp3", "file:///" + QString(4096, 'p')}, none}, invalid);
        row("an action", "ActivateAction", {"quit", QVariantList(), none},
            QStringLiteral("org.freedesktop.DBus.Error.NotSupported"));
        row("activate", "Activate", {none}, {}, {}, 1);
    }

    void open_overTheBus_givesFilesOrAnError()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, error);
        QFETCH(QStringList, files);
        QFETCH(int, activations);
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("player"));
        {
            AppInstance instance(QStringLiteral("player"));
            QVERIFY(instance.claim());
            QVERIFY(onBus(AppInfo::applicationId()));
            QSignalSpy opened(&instance, &AppInstance::filesOpened);
            QSignalSpy activated(&instance, &AppInstance::activated);
            const QDBusMessage reply = call(AppInfo::applicationId(), AppInstance::objectPath(),
                                            QStringLiteral("org.freedesktop.Application"), method, arguments);
            QCOMPARE(reply.type(), error.isEmpty() ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage);
            QCOMPARE(reply.errorName(), error);
            QVERIFY(reply.errorMessage().size() < 2 * BoundedText::kMaxDisplayChars);
            QCOMPARE(opened.size(), files.isEmpty() ? 0 : 1);
            QCOMPARE(opened.value(0).value(0).toStringList(), files);
            QCOMPARE(activated.size(), activations);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("player"));
    }

    void secondStart_handsFilesToTheRunningPlayer_orOpensAWindowOfItsOwn()
    {
        QProcess *first = startPlayer({QStringLiteral("1.mp3")});
        QVERIFY(onBus(kMpris) && onBus(AppInfo::applicationId()));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title 1"), kWaitMs);
        QCOMPARE(trackCount(), 1);

        // With files: the running player takes them and starts the first one given; the second start ends.
        QProcess *second =
            startPlayer({QUrl::fromLocalFile(m_media.filePath(QStringLiteral("2.mp3"))).toString(),
                         QStringLiteral("3.mp3"), QStringLiteral("http://example.org/4.mp3")});
        QVERIFY(second->waitForFinished(kWaitMs));
        QVERIFY(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(trackCount(), 3, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title 2"), kWaitMs);
        // One player, one window: no second remote-control name ever stayed.
        QCOMPARE(m_client.interface()->registeredServiceNames().value().filter(kMpris).size(), 1);

        // Without files: a window of its own, beside the first.
        QProcess *third = startPlayer({});
        QVERIFY(third->waitForStarted(kWaitMs));
        const QString thirdName = kMpris + QStringLiteral(".instance%1").arg(third->processId());
        QVERIFY(onBus(thirdName));
        QCOMPARE(trackCount(thirdName), 0);
        QVERIFY(first->state() == QProcess::Running && third->state() == QProcess::Running);
        quit(thirdName, third);
        quit(kMpris, first);
    }

    void lyrics_gbkFileBesideReachesTheBus_andABrokenOneNeverStopsATrack()
    {
        const QString sung = m_media.filePath(QStringLiteral("歌.mp3"));
        const QString piped = m_media.filePath(QStringLiteral("pipe.mp3"));
        QVERIFY(QFile::copy(m_media.filePath(QStringLiteral("1.mp3")), sung));
        QVERIFY(QFile::copy(m_media.filePath(QStringLiteral("2.mp3")), piped));
        QFile lrc(m_media.filePath(QStringLiteral("歌.lrc")));
        QVERIFY(lrc.open(QIODevice::WriteOnly));
        lrc.write(
            QStringEncoder("GBK").encode(QStringLiteral("[ti:平凡之路]\r\n[00:00.50]我曾经跨过山和大海\r\n"
                                                        "[00:02.00]也穿过人山人海\r\n")));
        lrc.close();
        QVERIFY(QDir(m_media.path()).mkpath(QStringLiteral("Lyrics")));
        FifoWatch fifo(m_media.filePath(QStringLiteral("Lyrics/pipe.lrc")));
        QVERIFY(fifo.isValid());

        QProcess *player = startPlayer({sung, piped});
        QVERIFY(onBus(kMpris));
        const auto asText = [&] {
            return qdbus_cast<QVariantMap>(mpris(kMpris, "Player", "Metadata"))
                .value("xesam:asText")
                .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(asText(), QStringLiteral("我曾经跨过山和大海\n也穿过人山人海"), kWaitMs);
        call(kMpris, kMprisPath, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Next"));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title 2"), kWaitMs);
        QCOMPARE(mpris(kMpris, "Player", "PlaybackStatus").toString(), QStringLiteral("Playing"));
        QCOMPARE(asText(), QString());
        QVERIFY(!fifo.readerSeen());
        quit(kMpris, player);
    }
};

QTEST_MAIN(OpenWithTest)
#include "test_open_with.moc"
