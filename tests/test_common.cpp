// The small shared layers: window presence across processes, version text,
// skin, connectivity, time texts and chooser filters.
#include "AppInfo.h"
#include "Connectivity.h"
#include "FileDialogSettings.h"
#include "MediaComponent.h"
#include "ShapedWindow.h"
#include "Skin.h"
#include "WindowPresence.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

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
        const QString caption = QStringLiteral("TamselMP3Player 更新程序");
        QVERIFY(!WindowPresence::exists(caption));
        {
            auto window = WindowPresence::announce(caption);
            QVERIFY(window->isActive());
            QVERIFY(WindowPresence::exists(caption));
            QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
            QVERIFY(!WindowPresence::exists(caption, QStringLiteral("OtherClass")));
        }
        QVERIFY(!WindowPresence::exists(caption));
    }

    void presence_seesOtherProcesses_andForgetsCrashedOnes()
    {
        const QString caption = QStringLiteral("TamselMP3Player");
        const pid_t child = inChildProcess([&] { static auto window = WindowPresence::announce(caption); });
        QVERIFY(child > 0);
        QVERIFY(WindowPresence::exists(caption));
        killHard(child); // no clean-up runs in the child
        QVERIFY(!WindowPresence::exists(caption));
        // The dead record is swept away, not just skipped.
        QCOMPARE(
            QDir(WindowPresence::recordFolder()).entryList({QStringLiteral("*.window")}, QDir::Files).size(),
            0);
    }

    void singleInstance_isRefusedWhileAnotherLives_andFreedWhenItDies()
    {
        const pid_t child =
            inChildProcess([] { WindowPresence::claimSingleInstance(QStringLiteral("KivuUpdate")); });
        QVERIFY(child > 0);
        QVERIFY(!WindowPresence::claimSingleInstance(QStringLiteral("KivuUpdate")));
        QVERIFY(WindowPresence::claimSingleInstance(QStringLiteral("TamselMP3Player")));
        killHard(child);
        QVERIFY(WindowPresence::claimSingleInstance(QStringLiteral("KivuUpdate")));
    }

    void versionText_padsEachFieldToTwoDigits()
    {
        QCOMPARE(AppInfo::localVersionText(), QStringLiteral("13.05.22"));
        QCOMPARE(AppInfo::versionText(1, 2, 3), QStringLiteral("01.02.03"));
        QCOMPARE(AppInfo::versionText(100, 5, 22), QStringLiteral("100.05.22"));
    }

    void noticeUrl_environmentOverridesTheBuiltInAddress()
    {
        qputenv("TAMSEL_NOTICE_URL", "http://127.0.0.1:8000/n.html");
        QCOMPARE(AppInfo::noticePageUrl(), QStringLiteral("http://127.0.0.1:8000/n.html"));
        qunsetenv("TAMSEL_NOTICE_URL");
        QVERIFY(AppInfo::noticePageUrl().startsWith(QStringLiteral("http")));
    }

    void skin_appliesStyleSheetWhenPresent_andMissingIsNoError()
    {
        QTemporaryDir folder;
        qApp->setStyleSheet(QString());
        QVERIFY(!Skin::attach(folder.path()));
        QCOMPARE(qApp->styleSheet(), QString());
        QFile skin(folder.filePath(QStringLiteral("Tamsel.Skin")));
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QListWidget { background: black; }");
        skin.close();
        QVERIFY(Skin::attach(folder.path()));
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QListWidget { background: black; }"));
        qApp->setStyleSheet(QString());
    }

    void connectivity_loopbackIsAlwaysReachable()
    {
        SystemConnectivity connectivity;
        QVERIFY(connectivity.isConnected(QStringLiteral("http://127.0.0.1:9/notice.html")));
        QVERIFY(connectivity.isConnected(QStringLiteral("http://localhost/notice.html")));
        QVERIFY(connectivity.isConnected(QStringLiteral("http://[::1]:8080/")));
    }

    void timeText_formsMinutesAndHours()
    {
        QCOMPARE(MediaComponent::timeText(0), QStringLiteral("00:00"));
        QCOMPARE(MediaComponent::timeText(75.9), QStringLiteral("01:15"));
        QCOMPARE(MediaComponent::timeText(3725), QStringLiteral("01:02:05"));
        QCOMPARE(MediaComponent::timeText(-3), QStringLiteral("00:00"));
        QCOMPARE(MediaComponent::timeText(qQNaN()), QStringLiteral("00:00"));
    }

    void dialogFilter_becomesQtFilter_withAllFilesForExtensionless()
    {
        FileDialogSettings settings;
        settings.filter = QStringLiteral("*.mp3文件|*.mp3|All file(*.*)|*.*");
        QCOMPARE(settings.qtFilter(), QStringLiteral("*.mp3文件 (*.mp3);;All file(*.*) (*)"));
        settings.filter = QStringLiteral("播放列表(*.m3u)|*.m3u");
        QCOMPARE(settings.qtFilter(), QStringLiteral("播放列表(*.m3u) (*.m3u)"));
    }

    void shapedWindow_hardEdgedPicture_isOpaqueOrClearAndKeepsItsColours()
    {
        QImage soft(4, 1, QImage::Format_ARGB32);
        const int alphas[] = {0, 127, 128, 255};
        for (int x = 0; x < 4; ++x)
            soft.setPixel(x, 0, qRgba(200, 100, 50, alphas[x]));
        const QImage hard = ShapedWindow::hardEdged(QPixmap::fromImage(soft)).toImage().convertToFormat(
            QImage::Format_ARGB32);
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
        auto *picture = new QLabel(&window);
        picture->setAutoFillBackground(true);
        picture->setStyleSheet(QStringLiteral("background: #202020"));
        picture->setGeometry(10, 10, 20, 20);
        auto *bar = new QLabel(&window);
        bar->setAutoFillBackground(true);
        bar->setStyleSheet(QStringLiteral("background: #c00000"));
        bar->setGeometry(50, 40, 30, 5);
        window.show();
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));

        // Only the two children are left of the blue window, cut as it is shown.
        const QRegion both = QRegion(10, 10, 20, 20) + QRegion(50, 40, 30, 5);
        QCOMPARE(window.mask(), both);

        // Moving, hiding and showing a child cut the shape again.
        picture->move(0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), QRegion(0, 0, 20, 20) + QRegion(50, 40, 30, 5), 2000);
        bar->hide();
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), QRegion(0, 0, 20, 20), 2000);
        bar->show();
        QTRY_COMPARE_WITH_TIMEOUT(window.mask(), QRegion(0, 0, 20, 20) + QRegion(50, 40, 30, 5), 2000);
    }

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
};

QTEST_MAIN(CommonTest)
#include "test_common.moc"
