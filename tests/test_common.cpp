// The small shared layers: window presence across processes, version text,
// skin, connectivity, time texts, text encodings and chooser filters.
#include "AppInfo.h"
#include "Connectivity.h"
#include "FileDialogSettings.h"
#include "MediaComponent.h"
#include "ShapedWindow.h"
#include "Skin.h"
#include "TextDecoding.h"
#include "WindowPresence.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs body in a child process that then waits until killed; returns its pid
// once the child has written "ready" into the pipe.
pid_t inChildProcess(const std::function<void()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        body();
        (void)!::write(fds[1], "r", 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    char ready = 0;
    (void)!::read(fds[0], &ready, 1);
    ::close(fds[0]);
    return pid;
}

void killHard(pid_t pid)
{
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

class CommonTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Each case looks at a folder of records of its own.
        m_runtime = std::make_unique<QTemporaryDir>();
        qputenv("XDG_RUNTIME_DIR", m_runtime->path().toUtf8());
    }

    void presence_followsTheWindowsLifetime_andMatchesClassAndCaption()
    {
        const QString caption = u"TamselMP3Player 更新程序"_s;
        QVERIFY(!WindowPresence::exists(caption));
        {
            auto window = WindowPresence::announce(caption);
            QVERIFY(window->isActive());
            QVERIFY(WindowPresence::exists(caption));
            QVERIFY(!WindowPresence::exists(u"TamselMP3Player"_s));
            QVERIFY(!WindowPresence::exists(caption, u"OtherClass"_s));
        }
        QVERIFY(!WindowPresence::exists(caption));
    }

    void presence_seesOtherProcesses_andForgetsCrashedOnes()
    {
        const QString caption = u"TamselMP3Player"_s;
        const pid_t child = inChildProcess([&] { static auto window = WindowPresence::announce(caption); });
        QVERIFY(child > 0);
        QVERIFY(WindowPresence::exists(caption));
        killHard(child); // no clean-up runs in the child
        QVERIFY(!WindowPresence::exists(caption));
        // The dead record is swept away, not just skipped.
        QCOMPARE(QDir(WindowPresence::recordFolder()).entryList({u"*.window"_s}, QDir::Files).size(), 0);
    }

    // Records go only into a folder of this user's that nobody else can
    // write into, and never through a link planted there: a locked file
    // elsewhere that reads like a live record is neither believed nor written.
    void presence_unsafePlaces_areNeverUsedOrFollowed_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("used");
        QTest::newRow("left readable by an older version: made private") << u"755"_s << true;
        QTest::newRow("writable by the group") << u"770"_s << false;
        QTest::newRow("another user's") << u"foreign"_s << false;
        QTest::newRow("a link to another folder") << u"link"_s << false;
        QTest::newRow("a file") << u"file"_s << false;
        QTest::newRow("links planted where records go") << u"planted"_s << true;
    }

    void presence_unsafePlaces_areNeverUsedOrFollowed()
    {
        QFETCH(QString, folder);
        QFETCH(bool, used);
        const QString caption = u"TamselMP3Player"_s,
                      path = m_runtime->filePath(u"tamsel-%1"_s.arg(::getuid()));
        const QByteArray name = QFile::encodeName(path),
                         text = "ThunderRT6FormDC\n" + caption.toUtf8() + '\n';
        QTemporaryDir elsewhere;
        QFile victim(elsewhere.filePath(u"victim"_s));
        QVERIFY(victim.open(QIODevice::ReadWrite) && victim.write(text) == text.size() && victim.flush());
        QCOMPARE(::flock(victim.handle(), LOCK_EX | LOCK_NB), 0);
        const auto link = [&](const QString &target, const QString &at) {
            return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()) == 0;
        };
        if (folder == u"link"_s)
            QVERIFY(link(elsewhere.path(), path));
        else if (folder == u"file"_s)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        else
            QVERIFY(::mkdir(name, 0700) == 0 && ::chmod(name, folder.toUInt(nullptr, 8) | 0700) == 0);
        if (folder == u"foreign"_s && ::chown(name, 65534, 65534) != 0)
            QSKIP("only root can give the folder to another user");
        // Every name this process is about to give a record, and a record of its own.
        for (int i = 0; folder == u"planted"_s && i < 60; ++i) {
            for (const QString &suffix : {u".new"_s, u".window"_s})
                QVERIFY(
                    link(victim.fileName(), u"%1/%2-%3%4"_s.arg(path).arg(::getpid()).arg(i).arg(suffix)));
        }
        QVERIFY(folder != u"planted"_s || link(victim.fileName(), path + u"/planted.window"_s));

        QVERIFY(!WindowPresence::exists(caption));
        {
            const auto window = WindowPresence::announce(caption);
            QCOMPARE(window->isActive(), used);
            QCOMPARE(WindowPresence::exists(caption), used);
        }
        QCOMPARE(WindowPresence::recordFolder().isEmpty(), !used);
        QVERIFY(victim.seek(0));
        QCOMPARE(victim.readAll(), text);
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), {u"victim"_s});
        struct stat status;
        QVERIFY(!used || (::stat(name, &status) == 0 && (status.st_mode & 0777) == 0700));
    }

    // A stale record goes only while its name still stands for the file that
    // was opened: one put in its place meanwhile stays.
    void presence_recordReplacedMeanwhile_isNotRemoved()
    {
        const QString path = m_runtime->filePath(u"r.window"_s), other = m_runtime->filePath(u"other"_s);
        const int opened = ::open(QFile::encodeName(path), O_RDWR | O_CREAT | O_EXCL, 0600);
        const int replacing = ::open(QFile::encodeName(other), O_RDWR | O_CREAT | O_EXCL, 0600);
        const auto closeBoth = qScopeGuard([&] { ::close(opened), ::close(replacing); });
        QVERIFY(opened >= 0 && replacing >= 0 &&
                ::rename(QFile::encodeName(other), QFile::encodeName(path)) == 0);
        QVERIFY(!WindowPresence::removeIfSame(path, opened));
        QVERIFY(QFile::exists(path));
        QVERIFY(WindowPresence::removeIfSame(path, replacing));
        QVERIFY(!QFile::exists(path));
    }

    void versionText_padsEachFieldToTwoDigits()
    {
        QCOMPARE(AppInfo::localVersionText(), u"13.05.22"_s);
        QCOMPARE(AppInfo::versionText(1, 2, 3), u"01.02.03"_s);
        QCOMPARE(AppInfo::versionText(100, 5, 22), u"100.05.22"_s);
    }

    void noticeUrl_environmentOverridesTheBuiltInAddress()
    {
        qputenv("TAMSEL_NOTICE_URL", "http://127.0.0.1:8000/n.html");
        QCOMPARE(AppInfo::noticePageUrl(), u"http://127.0.0.1:8000/n.html"_s);
        qunsetenv("TAMSEL_NOTICE_URL");
        QVERIFY(AppInfo::noticePageUrl().startsWith(u"http"_s));
    }

    void skin_appliesStyleSheetWhenPresent_andMissingIsNoError()
    {
        QTemporaryDir folder;
        qApp->setStyleSheet(QString());
        QVERIFY(!Skin::attach(folder.path()));
        QCOMPARE(qApp->styleSheet(), QString());
        const QString sheet = u"QListWidget { background: black; }"_s;
        QFile skin(folder.filePath(u"Tamsel.Skin"_s));
        QVERIFY(skin.open(QIODevice::WriteOnly) && skin.write(sheet.toUtf8()) == sheet.size());
        skin.close();
        QVERIFY(Skin::attach(folder.path()));
        QCOMPARE(qApp->styleSheet(), sheet);
        qApp->setStyleSheet(QString());
    }

    void connectivity_loopbackIsAlwaysReachable()
    {
        SystemConnectivity connectivity;
        for (const QString &url : {u"http://127.0.0.1:9/notice.html"_s, u"http://localhost/notice.html"_s,
                                   u"http://[::1]:8080/"_s})
            QVERIFY2(connectivity.isConnected(url), qPrintable(url));
    }

    void timeText_formsMinutesAndHours()
    {
        QCOMPARE(MediaComponent::timeText(0), u"00:00"_s);
        QCOMPARE(MediaComponent::timeText(75.9), u"01:15"_s);
        QCOMPARE(MediaComponent::timeText(3725), u"01:02:05"_s);
        QCOMPARE(MediaComponent::timeText(-3), u"00:00"_s);
        QCOMPARE(MediaComponent::timeText(qQNaN()), u"00:00"_s);
    }

    void textDecoding_findsTheEncodingOfTheWholeText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        // Lines of real lyrics files, long enough for a detector to be sure.
        const QString chinese = u"[00:12.30]我曾经跨过山和大海\n[00:18.00]也穿过人山人海\n"
                                u"[00:24.50]我曾经拥有着的一切\n[00:30.10]转眼都飘散如烟\n"_s;
        const QString japanese = u"[00:10.00]夜空ノムコウには\n[00:15.00]明日がもう待っている\n"
                                 u"[00:20.00]あの頃の未来に僕らは立っているのかな\n"_s;
        auto encoded = [](const QString &text, const char *name) -> QByteArray {
            return QStringEncoder(name).encode(text);
        };
        QTest::newRow("UTF-8") << chinese.toUtf8() << chinese;
        QTest::newRow("UTF-8 with BOM") << "\xef\xbb\xbf"_ba + chinese.toUtf8() << chinese;
        QTest::newRow("UTF-16 LE with BOM") << encoded(u"\ufeff"_s + chinese, "UTF-16LE") << chinese;
        QTest::newRow("UTF-16 BE with BOM") << encoded(u"\ufeff"_s + chinese, "UTF-16BE") << chinese;
        QTest::newRow("GBK") << encoded(chinese, "GBK") << chinese;
        QTest::newRow("Big5") << encoded(u"[00:01.00]月亮代表我的心\n[00:05.00]你問我愛你有多深\n"
                                         u"[00:09.00]我愛你有幾分\n[00:13.00]我的情也真\n"_s,
                                         "Big5")
                              << u"[00:01.00]月亮代表我的心\n[00:05.00]你問我愛你有多深\n"
                                 u"[00:09.00]我愛你有幾分\n[00:13.00]我的情也真\n"_s;
        QTest::newRow("Shift-JIS") << encoded(japanese, "Shift_JIS") << japanese;
        QTest::newRow("plain ASCII") << "[00:01.00]la la la\n"_ba << u"[00:01.00]la la la\n"_s;
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void textDecoding_findsTheEncodingOfTheWholeText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(TextDecoding::decode(bytes), text);
    }

    void dialogFilter_becomesQtFilter_withAllFilesForExtensionless()
    {
        FileDialogSettings settings;
        settings.filter = u"*.mp3文件|*.mp3|All file(*.*)|*.*"_s;
        QCOMPARE(settings.qtFilter(), u"*.mp3文件 (*.mp3);;All file(*.*) (*)"_s);
        settings.filter = u"播放列表(*.m3u)|*.m3u"_s;
        QCOMPARE(settings.qtFilter(), u"播放列表(*.m3u) (*.m3u)"_s);
    }

    void shapedWindow_hardEdgedPicture_isOpaqueOrClearAndKeepsItsColours()
    {
        QImage soft(4, 1, QImage::Format_ARGB32);
        const int alphas[] = {0, 127, 128, 255};
        for (int x = 0; x < 4; ++x)
            soft.setPixel(x, 0, qRgba(200, 100, 50, alphas[x]));
        QImage hard = ShapedWindow::hardEdged(QPixmap::fromImage(soft)).toImage();
        hard.convertTo(QImage::Format_ARGB32);
        QCOMPARE(hard.pixel(0, 0), 0u);
        QCOMPARE(hard.pixel(1, 0), 0u);
        QCOMPARE(qAlpha(hard.pixel(2, 0)), 255);
        QVERIFY(qAbs(qRed(hard.pixel(2, 0)) - 200) <= 2 && qAbs(qGreen(hard.pixel(2, 0)) - 100) <= 2);
        QCOMPARE(hard.pixel(3, 0), qRgba(200, 100, 50, 255));
    }

    void shapedWindow_showsOnlyItsChildren_andFollowsThem()
    {
        QWidget window;
        window.resize(100, 60);
        ShapedWindow::apply(&window);
        const auto child = [&](const char *colour, const QRect &place) {
            auto *label = new QLabel(&window);
            label->setAutoFillBackground(true);
            label->setStyleSheet(u"background: "_s + QLatin1String(colour));
            label->setGeometry(place);
            return label;
        };
        auto *picture = child("#202020", {10, 10, 20, 20});
        auto *bar = child("#c00000", {50, 40, 30, 5});
        const QRegion barShape(50, 40, 30, 5), movedPicture(0, 0, 20, 20);
        window.show();
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));

        // Only the two children are left of the window, cut as it is shown.
        QCOMPARE(window.mask(), QRegion(10, 10, 20, 20) + barShape);

        // Moving, hiding and showing a child cut the shape again.
        picture->move(0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), movedPicture + barShape, 2000);
        bar->hide();
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), movedPicture, 2000);
        bar->show();
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), movedPicture + barShape, 2000);
        // Nothing left to show shows nothing, not the whole window (an empty mask is none).
        picture->hide();
        bar->hide();
        QTRY_VERIFY_WITH_TIMEOUT(!window.mask().isEmpty() && !window.mask().intersects(window.rect()), 2000);
    }

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
};

QTEST_MAIN(CommonTest)
#include "test_common.moc"
