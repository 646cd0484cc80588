#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The player's place on the session bus, as the desktop's application
// interface (org.freedesktop.Application). The first player of a session
// holds the application's name; a later start with files hands them to it
// and ends instead of opening a second window.
class AppInstance : public QObject, public QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    // How long a second start waits for the running player to take its files.
    static constexpr int kHandOffTimeoutMs = 5000;

    // connectionName empty: the session bus.
    explicit AppInstance(const QString &connectionName = QString(), QObject *parent = nullptr);
    ~AppInstance() override;

    // The object path the interface is served at, made from the application id.
    static QString objectPath();

    // The local files that command-line arguments name (paths, relative ones
    // taken from workingFolder, or file: URIs), absolute and in order. Other
    // URIs and options, which the player has none of, are left out.
    static QStringList filesFromArguments(const QStringList &arguments, const QString &workingFolder);

    // Gives files to the player that already runs in this session; true when
    // it took them. False when none runs (this process then holds the name,
    // so that later starts come here) or it did not take them in time.
    bool handOff(const QStringList &files);

    // Takes the application's name, or waits in line for it while another
    // player holds it. Returns false without a bus.
    bool claim();

signals:
    // Another start or a desktop client asked to open these files.
    void filesOpened(const QStringList &files);
    void activated();

public slots:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &name, const QVariantList &parameter, const QVariantMap &platformData);

private:
    bool exportObject();
    // An error reply to the call being served.
    void refuse(QDBusError::ErrorType error, const QString &text);

    QString m_connectionName;
    bool m_exported = false;
};
