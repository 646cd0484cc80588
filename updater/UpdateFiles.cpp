#include "UpdateFiles.h"

#include "AppInfo.h"
#include "InstallJournal.h"
#include "Names.h"
#include "NoticePage.h"

#include <QFile>
#include <QUrl>

namespace UpdateFiles {
namespace {

constexpr int kShortPrefix = 2;
constexpr qsizetype kMaxNameBytes = 255;
const QString kSaveLink = QStringLiteral("保存至网盘");

// The entry's number and its dot ("10." of "10.skin.dll"); entries numbered
// otherwise keep the two-character prefix they always had.
qsizetype prefixLength(const QString &entry)
{
    qsizetype digits = 0;
    while (digits < entry.size() && entry[digits] >= QLatin1Char('0') && entry[digits] <= QLatin1Char('9'))
        ++digits;
    return digits > 0 && entry.mid(digits, 1) == QLatin1String(".") ? digits + 1 : kShortPrefix;
}

// Marks that turn the order text is shown in, so that a name reads as another.
bool isDirectionControl(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F ||
           u == 0x061C;
}

} // namespace

std::optional<QList<Entry>> entries(const QString &page)
{
    std::optional<QString> section = NoticePage::fileListSection(page);
    if (!section)
        return std::nullopt;
    NoticePage::cleanUpFileList(*section);
    // The first three characters are the "<p>" of the first file; the piece
    // after the last "<p>" stands before the push marker and is no file.
    QStringList parts = NoticePage::paragraphs(section->mid(3));
    parts.removeLast();
    if (parts.isEmpty())
        return std::nullopt;

    QList<Entry> list;
    for (const QString &part : std::as_const(parts)) {
        const qsizetype q1 = part.indexOf(QLatin1Char('"'));
        const qsizetype q2 = q1 < 0 ? -1 : part.indexOf(QLatin1Char('"'), q1 + 1);
        const qsizetype prefix = prefixLength(part.left(q1));
        if (q2 < 0 || q1 < prefix)
            return std::nullopt;
        Entry entry;
        entry.text = part.left(q2 + 1);
        entry.name = part.mid(prefix, q1 - prefix);
        entry.shareAddress = part.mid(q1 + 1, q2 - q1 - 1);
        list.append(entry);
    }
    return list;
}

std::optional<QString> downloadAddress(const QString &sharePage)
{
    const qsizetype k1 = sharePage.indexOf(kSaveLink);
    const qsizetype k2 = k1 < 0 ? -1 : sharePage.indexOf(QLatin1String("href"), k1);
    const qsizetype k3 = k2 < 0 ? -1 : sharePage.indexOf(QLatin1Char('"'), k2);
    const qsizetype k4 = k3 < 0 ? -1 : sharePage.indexOf(QLatin1String("id=\""), k3);
    if (k4 < 0)
        return std::nullopt;
    QString link = sharePage.mid(k3, k4 - k3);
    NoticePage::StripToken(link, QStringLiteral("amp;"));
    NoticePage::StripToken(link, QStringLiteral("\""));
    return link.trimmed();
}

bool isSafeName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control ||
            isDirectionControl(c))
            return false;
    }
    return QFile::encodeName(name).size() <= kMaxNameBytes && !InstallJournal::isOurName(name);
}

bool isAllowedAddress(const QString &address, bool httpsOnly)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || (!httpsOnly && scheme == QLatin1String("http")));
}

QString savedName(const QString &name)
{
    if (name == AppInfo::executableName(Names::kUpdaterProgram))
        return AppInfo::executableName(Names::kNewUpdaterProgram);
    return name;
}

bool isProgram(const QString &name)
{
    return name == AppInfo::executableName(Names::kUpdaterProgram) ||
           name == AppInfo::executableName(Names::kNewUpdaterProgram) ||
           name == AppInfo::executableName(Names::kPlayerProgram);
}

} // namespace UpdateFiles
