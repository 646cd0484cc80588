#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A web server on the loopback interface that stands in for the makers' site.
// It serves what each path is given, and can misbehave on purpose. It runs on
// the test's own event loop; every answer closes its connection.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    enum Fault {
        NoFault,
        NoContentLength, // the body ends when the connection closes
        WrongLength,     // declares declaredLength, sends the whole body
        CutBody,         // declares the whole body, sends faultAt bytes, closes
        Stall,           // declares the whole body, sends faultAt bytes, then nothing
        NeverAnswer,     // reads the request and never answers
        CloseAtOnce,     // closes the connection without a word
        HoldAnswer,      // answers only when releaseHeld() is called
        Trickle,         // declares the whole body, sends a byte every trickleMs
    };

    struct Response
    {
        Response() = default;
        // A cut or a stall strikes halfway through the body, a wrong length
        // is 100 bytes too long.
        explicit Response(const QByteArray &bytes, Fault withFault = NoFault, int withStatus = 200)
            : status(withStatus), body(bytes), fault(withFault), faultAt(bytes.size() / 2),
              declaredLength(bytes.size() + 100)
        {
        }

        int status = 200;
        QByteArray body;
        // Served from this file instead of body.
        QString filePath;
        QByteArray contentType = "text/html; charset=utf-8";
        QList<QPair<QByteArray, QByteArray>> headers;
        Fault fault = NoFault;
        qint64 faultAt = 0;
        qint64 declaredLength = -1;
        int trickleMs = 100;
    };

    explicit HttpServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1 at a free port.
    bool listen() { return m_server->listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server->serverPort(); }
    // "http://127.0.0.1:<port>" + path.
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
    }

    void route(const QString &path, const Response &response) { m_routes.insert(path, response); }
    void route(const QString &path, const QByteArray &body) { route(path, Response(body)); }
    // Answers path with a redirect to location.
    void redirect(const QString &path, const QString &location, int status = 302);
    void clearRoutes() { m_routes.clear(); }
    // Answers the requests held so far as if they had no fault.
    void releaseHeld();
    int heldCount() const { return int(m_held.size()); }

    // Paths requested so far, in order.
    QStringList requests() const { return m_requests; }
    int hits(const QString &path) const { return int(m_requests.count(path)); }

private:
    void onRequestData(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Response &response);

    QTcpServer *m_server;
    QHash<QString, Response> m_routes;
    QStringList m_requests;
    // What has come of each request whose head is not complete yet.
    QHash<QTcpSocket *, QByteArray> m_heads;
    QList<QPair<QPointer<QTcpSocket>, Response>> m_held;
};
