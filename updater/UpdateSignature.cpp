#include "UpdateSignature.h"

#include "Minisign.h"

#include <QHash>

#include <cctype>

namespace UpdateSignature {
namespace {

constexpr qsizetype kHexDigits = 64;
const QString kCommentPrefix = QStringLiteral("TamselMP3Player ");

bool isHex(const QByteArray &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](char c) { return std::isxdigit(uchar(c)) != 0; });
}

// Each named file's SHA-256, or nothing when a line is not one sha256sum
// writes or names a file twice.
std::optional<QHash<QString, QByteArray>> readSums(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    QHash<QString, QByteArray> sums;
    for (QByteArray line : std::as_const(lines)) {
        if (line.endsWith('\r'))
            line.chop(1);
        // sha256sum marks a file read in binary mode with "*" in place of the second blank.
        const QByteArray separator = line.mid(kHexDigits, 2);
        const QString name = QString::fromUtf8(line.mid(kHexDigits + 2));
        if (!isHex(line.left(kHexDigits)) || (separator != "  " && separator != " *") || name.isEmpty() ||
            sums.contains(name))
            return std::nullopt;
        sums.insert(name, QByteArray::fromHex(line.left(kHexDigits)));
    }
    return sums;
}

bool refuse(QString *why, const QString &text)
{
    *why = text;
    return false;
}

} // namespace

bool isSignatureEntry(const QString &name)
{
    return name == kSums || name == kSumsSignature;
}

bool allows(const Update &update, QString *why)
{
    const bool keyed = !update.key.isEmpty();
    if (keyed) {
        if (!update.sums || !update.signature)
            return refuse(why, QStringLiteral("更新没有签名"));
        const std::optional<QByteArray> comment =
            Minisign::verify(update.key, *update.sums, *update.signature, why);
        if (!comment)
            return false;
        if (QString::fromUtf8(*comment) != kCommentPrefix + update.version)
            return refuse(why, QStringLiteral("签名不属于版本 %1").arg(update.version));
    } else if (!update.sums) {
        return true;
    }
    std::optional<QHash<QString, QByteArray>> sums = readSums(*update.sums);
    if (!sums)
        return refuse(why, QStringLiteral("%1 格式不对").arg(kSums));
    for (const auto &[name, sha256] : update.files) {
        const auto line = sums->constFind(name);
        if (line == sums->cend()) {
            if (keyed)
                return refuse(why, QStringLiteral("%1 中没有 %2").arg(kSums, name));
            continue;
        }
        if (*line != sha256)
            return refuse(why, QStringLiteral("%1 与 %2 中的校验值不符").arg(name, kSums));
        sums->erase(line);
    }
    if (keyed && !sums->isEmpty())
        return refuse(why,
                      QStringLiteral("%1 列出了更新中没有的文件 %2").arg(kSums, sums->keys().constFirst()));
    return true;
}

} // namespace UpdateSignature
