#pragma once

#include <QList>
#include <QString>

class QIODevice;

// Other players' playlist files: PLS (an INI-like list, Winamp's) and XSPF
// (XML). Each gives its entries' locations as written, and their titles;
// what a location names is the playlist reader's to decide.
namespace PlaylistFormats {

struct Item
{
    QString location; // a path, a relative path or a URI, as the file writes it
    QString title;    // empty when the file gives none
};

// "FileN=" and "TitleN=" lines, in the order of N (1 to maxItems); the
// encoding as TextDecoding finds it. At most maxBytes are read.
QList<Item> readPls(QIODevice *device, qint64 maxBytes, int maxItems);

// The tracks of an XSPF playlist through Qt's XML stream reader: a document
// with a DTD (and so any entity of its own) or nested deeper than any
// playlist is refused, as is more than maxBytes. Returns false, with error
// set and what was read before kept, when the document is refused or broken.
bool readXspf(QIODevice *device, qint64 maxBytes, int maxItems, QList<Item> *items, QString *error = nullptr);

} // namespace PlaylistFormats
