#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Short real MP3 files for tests, made with sox (a sine tone) and lame.
namespace Mp3Fixture {

// Writes an MP3 of the given length at path; title empty means no tag.
// Returns false (and the test should fail) when the tools are missing.
bool make(const QString &path, double seconds, const QString &title = QString(), int kbps = 128);

// What addTag writes; empty fields are left out.
struct Tag
{
    QByteArray title; // written as it is: UTF-8, or any bytes
    QString artist;
    QString album;
    int track = 0;
    QByteArray picture; // an attached front cover
    // TXXX frames: description and value, as taggers write ReplayGain.
    QList<QPair<QByteArray, QByteArray>> userTexts = {};
    QString lyrics{};   // an USLT frame, in UTF-8
};

// Puts an ID3v2.4 tag in front of the file at path.
bool addTag(const QString &path, const Tag &tag);

// A PNG picture of one pixel, to attach; bytes after its end do not matter to a viewer.
QByteArray picture();

} // namespace Mp3Fixture
