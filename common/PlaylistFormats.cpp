#include "PlaylistFormats.h"

#include "TextDecoding.h"

#include <QIODevice>
#include <QMap>
#include <QXmlStreamReader>

namespace PlaylistFormats {

namespace {

// playlist, trackList, track, location: anything much deeper is not a playlist.
constexpr int kMaxXspfDepth = 16;

// "File12" with prefix "file": 12; 0 for anything else.
int indexOf(QStringView key, QLatin1String prefix, int maxItems)
{
    if (!key.startsWith(prefix, Qt::CaseInsensitive))
        return 0;
    bool ok = false;
    const int index = key.sliced(prefix.size()).toInt(&ok);
    return ok && index >= 1 && index <= maxItems ? index : 0;
}

} // namespace

QList<Item> readPls(QIODevice *device, qint64 maxBytes, int maxItems)
{
    const QString text = TextDecoding::decodePreferringChinese(device->read(maxBytes));
    QMap<int, Item> byIndex;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        line = line.trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QStringView key = line.first(equals).trimmed();
        const QString value = line.sliced(equals + 1).trimmed().toString();
        if (const int index = indexOf(key, QLatin1String("file"), maxItems)) {
            // A hostile file cannot make more entries than the list holds.
            if (byIndex.contains(index) || byIndex.size() < maxItems)
                byIndex[index].location = value;
        } else if (const int titled = indexOf(key, QLatin1String("title"), maxItems)) {
            if (byIndex.contains(titled) || byIndex.size() < maxItems)
                byIndex[titled].title = value;
        }
    }
    QList<Item> items;
    for (const Item &item : std::as_const(byIndex)) {
        if (!item.location.isEmpty())
            items.append(item);
    }
    return items;
}

bool readXspf(QIODevice *device, qint64 maxBytes, int maxItems, QList<Item> *items, QString *error)
{
    const QByteArray bytes = device->read(maxBytes + 1);
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (bytes.size() > maxBytes)
        return fail(QStringLiteral("playlist too large"));
    QXmlStreamReader xml(bytes);
    int depth = 0;
    int trackDepth = 0; // 0: not in a track
    Item track;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // A playlist needs none; refusing it refuses every entity of its own.
            return fail(QStringLiteral("document type declarations are not read"));
        case QXmlStreamReader::StartElement: {
            if (++depth > kMaxXspfDepth)
                return fail(QStringLiteral("nested too deeply"));
            const QStringView name = xml.name();
            if (name == QLatin1String("track") && !trackDepth) {
                trackDepth = depth;
                track = Item();
            } else if (trackDepth && depth == trackDepth + 1 &&
                       (name == QLatin1String("location") || name == QLatin1String("title"))) {
                const bool location = name == QLatin1String("location");
                const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                --depth; // readElementText read the end too
                // The first location is the one to play; others are mirrors.
                if (location && track.location.isEmpty())
                    track.location = text;
                else if (!location && track.title.isEmpty())
                    track.title = text;
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (trackDepth && depth == trackDepth) {
                trackDepth = 0;
                if (!track.location.isEmpty()) {
                    items->append(track);
                    if (items->size() >= maxItems)
                        return true;
                }
            }
            --depth;
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        return fail(xml.errorString());
    return true;
}

} // namespace PlaylistFormats
