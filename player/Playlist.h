#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QLabel;
class QListWidget;

namespace Playlist {

// The list holds at most this many entries (its indexes are 16-bit).
constexpr int kMaxEntries = 32767;

// The display name of a path: the text after its last '/' or '\'.
QString displayNameOf(const QString &path);

// Reads a playlist file into paths. A line ends at CR LF, CR or LF; a UTF-8
// byte-order mark, empty lines and "#" lines (extended playlists) are skipped;
// a bare file name lies in the playlist's own folder; text that is not valid
// UTF-8 is read as GB18030. Returns false when the file cannot be read.
bool readFile(const QString &fileName, QStringList *paths);

// The bytes of a playlist file: each path followed by CR LF, in the system's
// encoding, with no byte-order mark and no header.
QByteArray encode(const QStringList &paths);

// Replaces fileName with the paths through a temporary file, so that a save
// that fails at any point leaves the previous file as it was. Returns false
// when nothing was saved.
bool writeFile(const QString &fileName, const QStringList &paths);

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

    // Appends as many of paths as the list can still take; returns how many.
    int append(const QStringList &paths);

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
