#include "MinisignSigner.h"

#include <QFile>
#include <QProcess>

namespace {

bool minisign(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("minisign"), arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

MinisignSigner::MinisignSigner()
{
    const QString publicKey = m_dir.filePath(QStringLiteral("key.pub"));
    if (minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), publicKey,
                  QStringLiteral("-s"), m_dir.filePath(QStringLiteral("key.sec"))}))
        m_publicKey = contents(publicKey).split('\n').value(1);
}

QByteArray MinisignSigner::sign(const QByteArray &data, const QString &comment,
                                const QStringList &options) const
{
    QFile file(m_dir.filePath(QStringLiteral("SHA256SUMS")));
    const QString signature = file.fileName() + QStringLiteral(".minisig");
    QFile::remove(signature);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush())
        return {};
    const QStringList arguments = {QStringLiteral("-S"),
                                   QStringLiteral("-s"),
                                   m_dir.filePath(QStringLiteral("key.sec")),
                                   QStringLiteral("-m"),
                                   file.fileName(),
                                   QStringLiteral("-t"),
                                   comment};
    return minisign(arguments + options) ? contents(signature) : QByteArray();
}
