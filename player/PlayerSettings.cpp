#include "PlayerSettings.h"

#include "Names.h"

#include <QDir>
#include <QStandardPaths>

#include <cmath>

PlayerSettings::PlayerSettings(const QString &fileName)
    : m_store(fileName.isEmpty() ? defaultFileName() : fileName, QSettings::IniFormat)
{
}

QString PlayerSettings::defaultFileName()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(folder).filePath(Names::kPlayerProgram + QStringLiteral("/settings.ini"));
}

QString PlayerSettings::fileName() const
{
    return m_store.fileName();
}

int PlayerSettings::integer(const QString &key, int fallback, int lowest, int highest) const
{
    bool ok = false;
    const qlonglong value = m_store.value(key).toLongLong(&ok);
    return ok ? int(qBound(qlonglong(lowest), value, qlonglong(highest))) : fallback;
}

double PlayerSettings::real(const QString &key, double fallback, double lowest, double highest) const
{
    bool ok = false;
    const double value = m_store.value(key).toDouble(&ok);
    return ok && std::isfinite(value) ? qBound(lowest, value, highest) : fallback;
}

bool PlayerSettings::flag(const QString &key, bool fallback) const
{
    const QString value = m_store.value(key).toString().trimmed().toLower();
    if (value == QLatin1String("true") || value == QLatin1String("1"))
        return true;
    if (value == QLatin1String("false") || value == QLatin1String("0"))
        return false;
    return fallback;
}

QString PlayerSettings::text(const QString &key, const QString &fallback, qsizetype maxLength) const
{
    const QVariant value = m_store.value(key);
    if (!value.isValid() || !value.canConvert<QString>())
        return fallback;
    return value.toString().left(maxLength);
}

QStringList PlayerSettings::keysUnder(const QString &group, int maxKeys) const
{
    m_store.beginGroup(group);
    QStringList keys = m_store.childKeys();
    m_store.endGroup();
    if (keys.size() > maxKeys)
        keys.resize(maxKeys);
    return keys;
}

void PlayerSettings::set(const QString &key, const QVariant &value)
{
    m_store.setValue(key, value);
    m_store.sync();
}

void PlayerSettings::remove(const QString &key)
{
    m_store.remove(key);
    m_store.sync();
}
