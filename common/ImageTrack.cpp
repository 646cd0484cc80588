#include "ImageTrack.h"

#include "AudioTypes.h"
#include "BoundedText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sys/stat.h>

namespace ImageTrack {

namespace {

// Sheets kept: an album's tracks read their sheet one after another.
constexpr int kCachedSheets = 16;
constexpr int kMaxNumber = CueSheet::kMaxTracks;

// A file as it stands: a link, another spelling or a rewrite reads as what it is.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const Identity &other) const = default;
};

std::optional<Identity> identityOf(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return Identity{info.st_dev, info.st_ino, qint64(info.st_size),
                    qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

struct Cached
{
    Identity identity;
    CueSheet::Error error;
    std::shared_ptr<const CueSheet::Sheet> sheet;
};

// UI thread only, as libcue is.
QList<Cached> &cache()
{
    static QList<Cached> sheets;
    return sheets;
}

qint64 toNs(qint64 frames)
{
    return frames * 1000000000 / CueSheet::kFramesPerSecond;
}

} // namespace

QString entry(const QString &sheetFile, int number)
{
    QUrl url = QUrl::fromLocalFile(QDir::cleanPath(sheetFile));
    url.setQuery(QString::number(number));
    return url.toString(QUrl::FullyEncoded);
}

std::optional<Ref> parse(const QString &entry)
{
    if (!entry.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) ||
        entry.size() > BoundedText::kMaxUriBytes)
        return std::nullopt;
    const QUrl url(entry, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || !url.hasQuery() || url.hasFragment() ||
        !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    const QString query = url.query();
    bool ok = false;
    const int number = query.toInt(&ok);
    if (!ok || number < 1 || number > kMaxNumber || query != QString::number(number))
        return std::nullopt;
    const QString file = url.toLocalFile();
    if (file.isEmpty() || file.contains(QChar(0)))
        return std::nullopt;
    return Ref{file, number};
}

std::shared_ptr<const CueSheet::Sheet> sheetOf(const QString &sheetFile, CueSheet::Error *error,
                                               Budget *budget)
{
    CueSheet::Error ignored;
    if (!error)
        error = &ignored;
    const std::optional<Identity> identity = identityOf(sheetFile);
    if (!identity) {
        *error = CueSheet::Error::Unreadable;
        return nullptr;
    }
    QList<Cached> &sheets = cache();
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        if (sheets[i].identity == *identity) {
            sheets.move(i, 0);
            *error = sheets[0].error;
            return sheets[0].sheet;
        }
    }
    if (budget) {
        if (budget->bytesLeft < std::min(identity->size, CueSheet::kMaxSheetBytes)) {
            *error = CueSheet::Error::TooLarge;
            return nullptr;
        }
        budget->bytesLeft -= std::min(identity->size, CueSheet::kMaxSheetBytes);
    }
    auto sheet = std::make_shared<CueSheet::Sheet>();
    *error = AudioTypes::isSheetFileName(sheetFile) ? CueSheet::readFile(sheetFile, sheet.get())
                                                    : CueSheet::readEmbedded(sheetFile, sheet.get());
    if (*error != CueSheet::Error::None)
        sheet.reset();
    sheets.prepend({*identity, *error, sheet});
    if (sheets.size() > kCachedSheets)
        sheets.removeLast();
    return sheet;
}

std::optional<Track> resolve(const QString &entry, Budget *budget)
{
    const std::optional<Ref> ref = parse(entry);
    if (!ref)
        return std::nullopt;
    const std::shared_ptr<const CueSheet::Sheet> sheet = sheetOf(ref->sheetFile, nullptr, budget);
    if (!sheet || ref->number > sheet->tracks.size())
        return std::nullopt;
    const CueSheet::Track &source = sheet->tracks[ref->number - 1];
    Track track;
    track.audioFile = AudioTypes::isSheetFileName(ref->sheetFile)
                          ? CueSheet::findAudioFile(QFileInfo(ref->sheetFile).absolutePath(), source.file)
                          : ref->sheetFile;
    if (track.audioFile.isEmpty())
        return std::nullopt;
    track.startNs = toNs(source.start);
    track.endNs = source.end < 0 ? -1 : toNs(source.end);
    track.tags.title = displayName(*sheet, ref->number, ref->sheetFile);
    const QString performer = !source.performer.isEmpty() ? source.performer : sheet->performer;
    if (!performer.isEmpty())
        track.tags.artists = {BoundedText::forDisplay(performer)};
    track.tags.album = BoundedText::forDisplay(sheet->title);
    track.tags.trackNumber = ref->number;
    return track;
}

QString displayName(const CueSheet::Sheet &sheet, int number, const QString &sheetFile)
{
    const QString title =
        number >= 1 && number <= sheet.tracks.size() ? sheet.tracks[number - 1].title.trimmed() : QString();
    return !title.isEmpty() ? BoundedText::forDisplay(title) : fallbackName({sheetFile, number});
}

QString fallbackName(const Ref &ref)
{
    return BoundedText::forDisplay(QStringLiteral("%1 - %2")
                                       .arg(QFileInfo(ref.sheetFile).completeBaseName())
                                       .arg(ref.number, 2, 10, QLatin1Char('0')));
}

} // namespace ImageTrack
