// What `cmake --install` lays out for the desktop: the menu entry, the icon and
// the software-centre data, checked by the desktop's own validators.
#include "AppInfo.h"
#include "AudioTypes.h"

#include <QFileInfo>
#include <QProcess>
#include <QSvgRenderer>
#include <QtTest>

using namespace Qt::StringLiterals;

#ifndef TAMSEL_BUILD_DIR
#error "the test needs the build folder and cmake"
#endif

namespace {

constexpr int kToolTimeoutMs = 120000;

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, u"did not finish"_s};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class DesktopFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!tool("desktop-file-validate").isEmpty(), "desktop-file-utils is installed by scripts/deps");
        QVERIFY2(!tool("appstreamcli").isEmpty(), "appstream is installed by scripts/deps");
    }

    void install_laysOutValidDesktopFiles_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("staged");
        QTest::addColumn<bool>("quoted");
        QTest::newRow("plain prefix") << u"opt/tamsel"_s << false << false;
        QTest::newRow("blanks and Chinese in the prefix") << u"我的 程序/tamsel"_s << false << true;
        QTest::newRow("staged for a package (DESTDIR)") << u"usr/local/tamsel"_s << true << false;
    }

    void install_laysOutValidDesktopFiles()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, staged);
        QFETCH(bool, quoted);
        QTemporaryDir dir;
        const QString target = dir.filePath(prefix);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Staged: the files land under DESTDIR, but name the prefix they will live in.
        const QString stage = dir.filePath(u"stage"_s);
        if (staged)
            env.insert(u"DESTDIR"_s, stage);
        const QString root = staged ? stage + target : target;
        const Run install =
            run(QStringLiteral(TAMSEL_CMAKE),
                {u"--install"_s, QStringLiteral(TAMSEL_BUILD_DIR), u"--prefix"_s, target}, env);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));

        const QString id = AppInfo::applicationId();
        const QString desktop = u"%1/share/applications/%2.desktop"_s.arg(root, id);
        const QString icon = u"%1/share/icons/hicolor/scalable/apps/%2.svg"_s.arg(root, id);
        const QString metainfo = u"%1/share/metainfo/%2.metainfo.xml"_s.arg(root, id);

        const Run entryCheck = run(tool("desktop-file-validate"), {desktop});
        QVERIFY2(entryCheck.exitCode == 0 && entryCheck.output.trimmed().isEmpty(),
                 qPrintable(entryCheck.output));
        const Run dataCheck = run(tool("appstreamcli"), {u"validate"_s, u"--no-net"_s, metainfo});
        QVERIFY2(dataCheck.exitCode == 0, qPrintable(dataCheck.output));

        // The entry's keys, values as written.
        QMap<QString, QString> entry;
        for (const QString &line : readAll(desktop).split(u'\n'))
            entry.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
        QCOMPARE(entry.value(u"Name"_s), u"TamselMP3Player"_s);
        QCOMPARE(entry.value(u"Name[zh_CN]"_s), u"迷你MP3播放器"_s);
        // Every type of the player's table, as the desktop file lists them.
        QCOMPARE(entry.value(u"MimeType"_s), AudioTypes::mimeTypes().join(u';') + u';');
        // The entry starts the installed player by its full path, quoted when it must be.
        const QString program = target + u"/TamselMP3Player"_s;
        QCOMPARE(entry.value(u"Exec"_s), (quoted ? u"\"%1\""_s.arg(program) : program) + u" %U"_s);
        const QFileInfo installed(root + u"/TamselMP3Player"_s);
        QVERIFY(installed.isFile() && installed.isExecutable());
        QVERIFY(QFileInfo(root + u"/KivuUpdate"_s).isExecutable());

        QCOMPARE(entry.value(u"Icon"_s), id);
        QVERIFY(QSvgRenderer(icon).isValid());
        const QString launchable = u"<launchable type=\"desktop-id\">%1.desktop</launchable>"_s.arg(id);
        QVERIFY(readAll(metainfo).contains(launchable));
    }
};

QTEST_MAIN(DesktopFilesTest)
#include "test_desktop_files.moc"
