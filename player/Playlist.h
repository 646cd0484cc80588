#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QAbstractItemModel;
class QIODevice;
class QLabel;
class QListWidget;

namespace Playlist {

// The list holds at most this many entries (its indexes are 16-bit).
constexpr int kMaxEntries = 32767;
// A playlist file is read up to this size; the rest is skipped.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// The display name of a path: the text after its last '/' or '\'.
QString displayNameOf(const QString &path);

// Reads a playlist file into paths; only a regular file is read. A ".pls" or
// ".xspf" file (any case) is read as PLS or XSPF, anything else as below.
// names, when given, gets each path's name from the file (#EXTINF, a PLS or
// XSPF title), empty where it gives none. Returns false when the file cannot
// be read.
bool readFile(const QString &fileName, QStringList *paths, QStringList *names = nullptr);

// Reads playlist text into paths, at most kMaxEntries of them and kMaxFileBytes
// of the device. A line ends at CR or LF; empty lines and "#" lines (extended
// playlists) are skipped, and so are lines that name no path (one longer than
// a path can be, one with a NUL). A UTF-16 or UTF-32 byte-order mark sets the
// encoding; otherwise each line is UTF-8 or, when it is not valid UTF-8,
// GB18030. A "file://" line is a percent-encoded URI of a local file, with
// "?N" one of track N of an image (ImageTrack), as is qmmp's "cue://path#N".
// A line that is not absolute lies in folder; Windows paths ("D:\x",
// "\\host\x") are taken as they stand. An "#EXTINF:seconds,title" line names
// the path after it in names.
void read(QIODevice *device, const QString &folder, QStringList *paths, QStringList *names = nullptr);

// The bytes of a playlist file: each path followed by CR LF, in the system's
// encoding, with no byte-order mark and no header. A path that would not read
// back as one line of its own (a line break in it, a leading '#') is written as
// a file:// URI; a track of an image is its URI already.
QByteArray encode(const QStringList &paths);

// Replaces fileName with the paths (see AtomicFile). Returns false when
// nothing was saved; reason then says why.
bool writeFile(const QString &fileName, const QStringList &paths, QString *reason = nullptr);

} // namespace Playlist

// The visible names and the hidden paths, kept in step index for index, and
// the label that shows their count.
class PlaylistPair
{
public:
    PlaylistPair(QListWidget *names, QListWidget *urls, QLabel *countLabel);

    int count() const;
    QString nameAt(int index) const;
    QString urlAt(int index) const;
    QStringList urls() const;
    // The names' model: its row signals tell every change of the list.
    QAbstractItemModel *model() const;

    // Appends as many of paths as the list can still take, skipping any path
    // longer than a path can be; returns how many. names[i], where given and
    // not empty, is the name of paths[i]; otherwise a track of an image is
    // named by its sheet, a file by its file name. Display names are cut to a
    // length a window can show.
    int append(const QStringList &paths, const QStringList &names = {});

    // Both lists change together; indexes must be valid.
    void removeAt(int index);
    void swap(int first, int second);
    void clear();

    void refreshCount();

private:
    QListWidget *m_names;
    QListWidget *m_urls;
    QLabel *m_countLabel;
};
