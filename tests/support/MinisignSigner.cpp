#include "MinisignSigner.h"

#include <QFile>
#include <QProcess>

namespace {

constexpr int kWaitMs = 20000;

bool runMinisign(const QStringList &arguments)
{
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    minisign.start(QStringLiteral("minisign"), arguments);
    return minisign.waitForFinished(kWaitMs) && minisign.exitStatus() == QProcess::NormalExit &&
           minisign.exitCode() == 0;
}

} // namespace

MinisignSigner::MinisignSigner()
{
    QFile publicKey(m_dir.filePath(QStringLiteral("key.pub")));
    if (runMinisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), publicKey.fileName(),
                     QStringLiteral("-s"), m_dir.filePath(QStringLiteral("key.sec"))}) &&
        publicKey.open(QIODevice::ReadOnly))
        m_publicKey = publicKey.readAll().split('\n').value(1);
}

QByteArray MinisignSigner::sign(const QByteArray &data, const QString &comment, const QStringList &options) const
{
    QFile file(m_dir.filePath(QStringLiteral("SHA256SUMS")));
    QFile signature(file.fileName() + QStringLiteral(".minisig"));
    signature.remove();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return {};
    file.close();
    if (!runMinisign(QStringList{QStringLiteral("-S"), QStringLiteral("-s"), m_dir.filePath(QStringLiteral("key.sec")),
                                 QStringLiteral("-m"), file.fileName(), QStringLiteral("-t"), comment} +
                     options) ||
        !signature.open(QIODevice::ReadOnly))
        return {};
    return signature.readAll();
}
