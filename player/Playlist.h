#pragma once

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

    // Appends as many of paths as the list can still take; returns how many.
    int append(const QStringList &paths);

    void refreshCount();

private:
    QListWidget *m_names;
    QListWidget *m_urls;
    QLabel *m_countLabel;
};
