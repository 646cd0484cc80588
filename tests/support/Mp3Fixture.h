#pragma once

#include <QString>

// Short real MP3 files for tests, made with sox (a sine tone) and lame.
namespace Mp3Fixture {

// Writes an MP3 of the given length at path; title empty means no tag.
// Returns false (and the test should fail) when the tools are missing.
bool make(const QString &path, double seconds, const QString &title = QString(), int kbps = 128);

} // namespace Mp3Fixture
