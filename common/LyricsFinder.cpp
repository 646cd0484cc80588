#include "LyricsFinder.h"

#include "RegularFile.h"
#include "TextDecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

// Beyond one control character in a hundred, bytes are no text: an audio
// file or a picture saved as .lrc, decoded as some code page.
constexpr qsizetype kControlsPerHundred = 1;

bool looksLikeText(const QString &text)
{
    qsizetype controls = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0)
            return false;
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f')
            ++controls;
    }
    return controls * 100 <= text.size() * kControlsPerHundred;
}

// The eight spellings of ".lrc".
QStringList lrcNames(const QString &base)
{
    QStringList names;
    for (int mask = 0; mask < 8; ++mask) {
        QString name = base + QStringLiteral(".lrc");
        for (int i = 0; i < 3; ++i) {
            if (mask & (1 << i))
                name[name.size() - 3 + i] = name[name.size() - 3 + i].toUpper();
        }
        names.append(name);
    }
    return names;
}

} // namespace

LyricsFinder::LyricsFinder(QObject *parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

LyricsFinder::~LyricsFinder()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void LyricsFinder::find(quint64 request, const QString &audioFile, const QString &tagText)
{
    m_pool.clear();
    m_pool.start([this, request, audioFile, tagText] {
        QString file;
        const Lyrics lyrics = search(audioFile, tagText, &file);
        // The destructor waits for this thread, so the finder is still there.
        QMetaObject::invokeMethod(
            this, [this, request, lyrics, file] { emit found(request, lyrics, file); }, Qt::QueuedConnection);
    });
}

QStringList LyricsFinder::candidates(const QString &audioFile)
{
    const QFileInfo audio(audioFile);
    const QString base = audio.completeBaseName();
    if (base.isEmpty())
        return {};
    const QDir folder = audio.dir();
    QStringList files;
    for (const QString &place : {QString(), QStringLiteral("Lyrics/"), QStringLiteral("lyrics/")}) {
        for (const QString &name : lrcNames(base))
            files.append(folder.filePath(place + name));
    }
    return files;
}

std::optional<QString> LyricsFinder::readFile(const QString &path)
{
    QFile file;
    if (!RegularFile::openForReading(&file, path))
        return std::nullopt;
    QByteArray bytes = file.read(kMaxBytes + 1);
    if (bytes.size() > kMaxBytes) {
        // Only whole lines of a longer file; in UTF-16 LE a line break is "\n\0".
        bytes.truncate(kMaxBytes);
        const qsizetype lineEnd = bytes.lastIndexOf('\n');
        const bool littleEndian = bytes.startsWith("\xff\xfe");
        bytes.truncate(lineEnd < 0 ? 0 : lineEnd + (littleEndian ? 2 : 1));
    }
    const QString text = TextDecoding::decode(bytes);
    if (!looksLikeText(text))
        return std::nullopt;
    return text;
}

Lyrics LyricsFinder::search(const QString &audioFile, const QString &tagText, QString *file)
{
    if (file)
        file->clear();
    if (!audioFile.isEmpty()) {
        for (const QString &candidate : candidates(audioFile)) {
            // A FIFO, a device or a link to one is no lyrics file: the next one is tried.
            if (!RegularFile::exists(candidate))
                continue;
            const std::optional<QString> text = readFile(candidate);
            if (!text)
                continue;
            Lyrics lyrics = Lyrics::parse(*text);
            if (lyrics.isEmpty())
                continue;
            if (file)
                *file = candidate;
            return lyrics;
        }
    }
    return Lyrics::parse(tagText);
}

QString LyricsFinder::fromId3Frame(QByteArrayView frame)
{
    qsizetype header = 0;
    if (frame.size() >= 10 && frame.first(4) == "USLT") {
        // The flags say the frame is compressed, encrypted, grouped or unsynchronised.
        if (frame[8] != 0 || frame[9] != 0)
            return QString();
        header = 10;
    } else if (frame.size() >= 6 && frame.first(3) == "ULT") {
        header = 6;
    } else {
        return QString();
    }
    // The text encoding, the language, the content descriptor, then the lyrics.
    QByteArrayView body = frame.sliced(header);
    if (body.size() < 4)
        return QString();
    const char encoding = body[0];
    body = body.sliced(4);
    const bool wide = encoding == 1 || encoding == 2;
    qsizetype end = -1;
    if (wide) {
        for (qsizetype i = 0; i + 1 < body.size(); i += 2) {
            if (body[i] == 0 && body[i + 1] == 0) {
                end = i;
                break;
            }
        }
    } else {
        end = body.indexOf('\0');
    }
    if (end < 0)
        return QString();
    body = body.sliced(end + (wide ? 2 : 1));
    QString text;
    switch (encoding) {
    case 0: // ISO-8859-1 by the standard; GBK in many of our users' files
        text = TextDecoding::decode(body);
        break;
    case 1: { // UTF-16 with a byte-order mark, little-endian without one
        const bool bigEndian = body.startsWith("\xfe\xff");
        const bool marked = bigEndian || body.startsWith("\xff\xfe");
        text = QStringDecoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE)
                   .decode(body.sliced(marked ? 2 : 0));
        break;
    }
    case 2:
        text = QStringDecoder(QStringConverter::Utf16BE).decode(body);
        break;
    case 3:
        text = QString::fromUtf8(body);
        break;
    default:
        break;
    }
    // The frame may end in its terminator.
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}
