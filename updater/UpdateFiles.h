#pragma once

#include <QList>
#include <QString>

#include <optional>

// The update's file list as the notice page gives it, and the sharing pages
// that lead from each file to its download address.
namespace UpdateFiles {

struct Entry
{
    // The paragraph up to its second double quote: prefix, name, "address".
    QString text;
    // The name after the prefix (the entry's number and its dot, as "10.");
    // the file is saved under it.
    QString name;
    // The sharing page that holds the file's download address.
    QString shareAddress;
};

// The entries of the notice page's file list, in page order. Nothing when the
// list cannot be cut, holds no entry, or an entry lacks its quoted address.
std::optional<QList<Entry>> entries(const QString &page);

// The address behind the "保存至网盘" link of a sharing page, with its
// ampersand entities made plain; nothing when the page has no such link.
std::optional<QString> downloadAddress(const QString &sharePage);

// A name that can only mean a file of the program folder itself, and reads
// as what it is: not empty, not "." or "..", no path separator, no control
// character, no mark that turns the direction of text, at most 255 bytes, and
// none of the names placing uses for itself.
bool isSafeName(const QString &name);

// A web address the updater may fetch: http or https with a host; https only
// when the notice page itself came over https.
bool isAllowedAddress(const QString &address, bool httpsOnly);

// Where an entry is saved: the updater's own file cannot be replaced while it
// runs, so it goes beside it as NewKivuUpdate for the player to swap in.
QString savedName(const QString &name);

// Whether the file becomes one of the two programs, which must stay
// executable: the updater's successor, listed under its own name, is one too.
bool isProgram(const QString &name);

} // namespace UpdateFiles
