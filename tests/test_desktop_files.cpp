// What `cmake --install` lays out for the desktop: the menu entry, the icon and
// the software-centre data, checked by the desktop's own validators.
#include "AppInfo.h"

#include <QFileInfo>
#include <QProcess>
#include <QSvgRenderer>
#include <QtTest>

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
        return {-1, QStringLiteral("did not finish")};
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
        QTest::newRow("plain prefix") << QStringLiteral("opt/tamsel") << false << false;
        QTest::newRow("blanks and Chinese in the prefix")
            << QStringLiteral("我的 程序/tamsel") << false << true;
        QTest::newRow("staged for a package (DESTDIR)")
            << QStringLiteral("usr/local/tamsel") << true << false;
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
        const QString stage = dir.filePath(QStringLiteral("stage"));
        if (staged)
            env.insert(QStringLiteral("DESTDIR"), stage);
        const QString root = staged ? stage + target : target;
        const Run install = run(QStringLiteral(TAMSEL_CMAKE),
                                {QStringLiteral("--install"), QStringLiteral(TAMSEL_BUILD_DIR),
                                 QStringLiteral("--prefix"), target},
                                env);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));

        const QString id = AppInfo::applicationId();
        const QString desktop = QStringLiteral("%1/share/applications/%2.desktop").arg(root, id);
        const QString icon = QStringLiteral("%1/share/icons/hicolor/scalable/apps/%2.svg").arg(root, id);
        const QString metainfo = QStringLiteral("%1/share/metainfo/%2.metainfo.xml").arg(root, id);

        const Run entryCheck = run(tool("desktop-file-validate"), {desktop});
        QVERIFY2(entryCheck.exitCode == 0 && entryCheck.output.trimmed().isEmpty(),
                 qPrintable(entryCheck.output));
        const Run dataCheck =
            run(tool("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
        QVERIFY2(dataCheck.exitCode == 0, qPrintable(dataCheck.output));

        // The entry's keys, values as written.
        QMap<QString, QString> entry;
        for (const QString &line : readAll(desktop).split(QLatin1Char('\n')))
            entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("TamselMP3Player"));
        QCOMPARE(entry.value(QStringLiteral("Name[zh_CN]")), QStringLiteral("迷你MP3播放器"));
        const QStringList types = entry.value(QStringLiteral("MimeType")).split(QLatin1Char(';'));
        QVERIFY(types.contains(QStringLiteral("audio/mpeg")) &&
                types.contains(QStringLiteral("audio/x-mpegurl")));
        // The entry starts the installed player by its full path, quoted when it must be.
        const QString program = target + QStringLiteral("/TamselMP3Player");
        QCOMPARE(entry.value(QStringLiteral("Exec")),
                 (quoted ? QLatin1Char('"') + program + QLatin1Char('"') : program) + QStringLiteral(" %U"));
        const QFileInfo installed(root + QStringLiteral("/TamselMP3Player"));
        QVERIFY(installed.isFile() && installed.isExecutable());
        QVERIFY(QFileInfo(root + QStringLiteral("/KivuUpdate")).isExecutable());

        QCOMPARE(entry.value(QStringLiteral("Icon")), id);
        QVERIFY(QSvgRenderer(icon).isValid());
        QVERIFY(readAll(metainfo).contains(
            QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(id)));
    }
};

QTEST_MAIN(DesktopFilesTest)
#include "test_desktop_files.moc"
