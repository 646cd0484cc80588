#pragma once

#include "Lyrics.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <optional>

// Finds the lyrics of a track: a .lrc file of the track's base name beside it
// (the extension in any case), else one in a Lyrics or lyrics folder beside
// it, else the lyrics its tags carry. The search runs on a thread of its own,
// so that neither the window nor the start of the sound waits for a disk.
class LyricsFinder : public QObject
{
    Q_OBJECT
public:
    // No more of a lyrics file, or of a lyrics tag, is read.
    static constexpr qint64 kMaxBytes = 1 << 20;

    explicit LyricsFinder(QObject *parent = nullptr);
    // Waits for a search under way; one not yet begun is dropped.
    ~LyricsFinder() override;

    // Looks for the lyrics of audioFile (no file is looked for when it is
    // empty), else reads tagText, and tells found() with request. A search
    // asked for before and not yet begun is dropped: only the newest counts.
    void find(quint64 request, const QString &audioFile, const QString &tagText);

    // The files that may hold the lyrics of audioFile, in the order they are tried.
    static QStringList candidates(const QString &audioFile);
    // The text of a lyrics file: at most kMaxBytes of a regular file, cut at
    // its last line break when there is more, decoded whole. Nothing for a
    // file that cannot be read or holds no text (a NUL, control characters).
    static std::optional<QString> readFile(const QString &path);
    // What find() does, on the calling thread: the lyrics and the file they
    // came from (empty when from tagText, or none were found).
    static Lyrics search(const QString &audioFile, const QString &tagText, QString *file = nullptr);

    // The lyrics of an ID3v2 USLT frame (ULT in ID3v2.2), its header
    // included, as the engine hands it on; empty for any other frame, or one
    // compressed, encrypted or otherwise transformed.
    static QString fromId3Frame(QByteArrayView frame);

signals:
    // On the thread that owns the finder. file is empty when the lyrics came
    // from the tags, or none were found.
    void found(quint64 request, const Lyrics &lyrics, const QString &file);

private:
    QThreadPool m_pool;
};
