#include "HttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr qint64 kBlock = 64 * 1024;
// More than this waiting in the socket and the server waits for it to drain.
constexpr qint64 kHighWater = 256 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

// One answer on its way: what is left to send, and where it stops.
struct HttpServer::Connection
{
    QByteArray request;
    bool answered = false;
    QFile file;
    QByteArray body;
    qint64 sent = 0;
    qint64 stopAt = -1; // bytes of body to send before the fault, -1 for all
    qint64 total = 0;
    HttpServer::Fault fault = HttpServer::NoFault;
};

HttpServer::HttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer()
{
    qDeleteAll(m_connections);
}

bool HttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QString HttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void HttpServer::route(const QString &path, const Response &response)
{
    m_routes.insert(path, response);
}

void HttpServer::route(const QString &path, const QByteArray &body)
{
    Response response;
    response.body = body;
    route(path, response);
}

void HttpServer::redirect(const QString &path, const QString &location, int status)
{
    Response response;
    response.status = status;
    response.headers.append({"Location", location.toUtf8()});
    route(path, response);
}

void HttpServer::clearRoutes()
{
    m_routes.clear();
}

void HttpServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequestData(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pump(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

void HttpServer::onRequestData(QTcpSocket *socket)
{
    Connection *connection = m_connections.value(socket);
    if (!connection || connection->answered)
        return;
    connection->request += socket->readAll();
    if (!connection->request.contains("\r\n\r\n"))
        return;
    connection->answered = true;
    // "GET /path HTTP/1.1"
    const QList<QByteArray> words = connection->request.left(connection->request.indexOf("\r\n")).split(' ');
    const QString target = words.size() > 1 ? QString::fromUtf8(words[1]) : QString();
    m_requests.append(target);
    answer(socket, target);
}

void HttpServer::answer(QTcpSocket *socket, const QString &path)
{
    const auto route = m_routes.constFind(path);
    Response response;
    if (route == m_routes.cend()) {
        response.status = 404;
        response.body = "not found";
    } else {
        response = *route;
    }
    if (response.fault == NeverAnswer)
        return;
    if (response.fault == HoldAnswer) {
        response.fault = NoFault;
        m_held.append({socket, response});
        return;
    }
    respond(socket, response);
}

void HttpServer::releaseHeld()
{
    const auto held = std::exchange(m_held, {});
    for (const auto &[socket, response] : held) {
        if (socket && m_connections.contains(socket))
            respond(socket, response);
    }
}

void HttpServer::respond(QTcpSocket *socket, const Response &response)
{
    Connection *connection = m_connections.value(socket);
    if (response.fault == CloseAtOnce) {
        socket->disconnectFromHost();
        return;
    }

    if (!response.filePath.isEmpty()) {
        connection->file.setFileName(response.filePath);
        if (!connection->file.open(QIODevice::ReadOnly)) {
            socket->disconnectFromHost();
            return;
        }
        connection->total = connection->file.size();
    } else {
        connection->body = response.body;
        connection->total = response.body.size();
    }
    connection->fault = response.fault;
    if (response.fault == CutBody || response.fault == Stall)
        connection->stopAt = std::min(response.faultAt, connection->total);

    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    head += "Connection: close\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (response.fault == WrongLength)
        head += "Content-Length: " + QByteArray::number(response.declaredLength) + "\r\n";
    else if (response.fault != NoContentLength)
        head += "Content-Length: " + QByteArray::number(connection->total) + "\r\n";
    for (const auto &[name, value] : std::as_const(response.headers))
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket->write(head);
    pump(socket);
}

void HttpServer::pump(QTcpSocket *socket)
{
    Connection *connection = m_connections.value(socket);
    if (!connection || !connection->answered)
        return;
    const qint64 end = connection->stopAt >= 0 ? connection->stopAt : connection->total;
    while (connection->sent < end && socket->bytesToWrite() < kHighWater) {
        const qint64 size = std::min(kBlock, end - connection->sent);
        const QByteArray block = connection->file.isOpen() ? connection->file.read(size)
                                                           : connection->body.mid(connection->sent, size);
        if (block.isEmpty())
            break;
        socket->write(block);
        connection->sent += block.size();
    }
    if (connection->sent < end || socket->bytesToWrite() > 0)
        return;
    // Everything meant to go has gone. A stalled answer keeps its connection open.
    if (connection->fault != Stall)
        socket->disconnectFromHost();
}
