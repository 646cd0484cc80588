#include "Mp3Fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

constexpr int kToolTimeoutMs = 30000;

bool runTool(const QString &program, const QStringList &arguments)
{
    const QString executable = QStandardPaths::findExecutable(program);
    if (executable.isEmpty()) {
        qWarning("Mp3Fixture: %s is not installed", qPrintable(program));
        return false;
    }
    QProcess process;
    // lame reads --tt in the locale's charset; under "C" a Chinese title is lost.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(executable, arguments);
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        qWarning("Mp3Fixture: %s did not finish", qPrintable(program));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("Mp3Fixture: %s failed: %s", qPrintable(program), process.readAll().constData());
        return false;
    }
    return true;
}

} // namespace

namespace Mp3Fixture {

bool make(const QString &path, double seconds, const QString &title, int kbps)
{
    QTemporaryFile wav(QDir::tempPath() + QStringLiteral("/mp3fixture-XXXXXX.wav"));
    if (!wav.open())
        return false;
    wav.close(); // sox writes it by name

    // A 440 Hz stereo tone, CD format.
    QStringList soxArgs = QStringLiteral("-n -r 44100 -c 2 -b 16").split(QLatin1Char(' '));
    soxArgs << wav.fileName() << QStringLiteral("synth") << QString::number(seconds) << QStringLiteral("sine")
            << QStringLiteral("440");
    if (!runTool(QStringLiteral("sox"), soxArgs))
        return false;

    QStringList lameArgs = {QStringLiteral("--quiet"), QStringLiteral("-b"), QString::number(kbps)};
    if (!title.isEmpty()) {
        // ID3v2 only: lame's ID3v1 cannot hold a Chinese title and would add a mangled copy.
        lameArgs << QStringLiteral("--tt") << title << QStringLiteral("--add-id3v2")
                 << QStringLiteral("--id3v2-only");
    }
    lameArgs << wav.fileName() << path;
    if (!runTool(QStringLiteral("lame"), lameArgs))
        return false;
    return QFileInfo(path).size() > 0;
}

bool addTag(const QString &path, const Tag &tag)
{
    // ID3v2.4 sizes: four bytes of seven bits each.
    const auto syncsafe = [](qsizetype size) {
        QByteArray bytes;
        for (int shift = 21; shift >= 0; shift -= 7)
            bytes += char((size >> shift) & 0x7F);
        return bytes;
    };
    const auto frame = [&](const char *id, const QByteArray &body) {
        return id + syncsafe(body.size()) + QByteArray(2, '\0') + body;
    };
    const auto text = [&](const char *id, const QByteArray &utf8) {
        return utf8.isEmpty() ? QByteArray() : frame(id, '\3' + utf8); // 3: UTF-8
    };
    QByteArray frames = text("TIT2", tag.title) + text("TPE1", tag.artist.toUtf8()) +
                        text("TALB", tag.album.toUtf8()) +
                        text("TRCK", tag.track > 0 ? QByteArray::number(tag.track) : QByteArray());
    for (const auto &[description, value] : tag.userTexts)
        frames += frame("TXXX", '\3' + description + '\0' + value);
    if (!tag.lyrics.isEmpty()) // UTF-8, Chinese, no description
        frames += frame("USLT", "\3chi" + QByteArray(1, '\0') + tag.lyrics.toUtf8());
    if (!tag.picture.isEmpty()) // Latin-1, MIME type, front cover (3), no description
        frames += frame("APIC", QByteArray("\0image/png\0\3\0", 13) + tag.picture);

    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray audio = file.readAll();
    file.seek(0);
    const QByteArray header = "ID3" + QByteArray("\4\0\0", 3) + syncsafe(frames.size());
    return file.write(header + frames + audio) == header.size() + frames.size() + audio.size();
}

QByteArray picture()
{
    return QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC");
}

} // namespace Mp3Fixture
