#include "HttpServer.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>

HttpServer::HttpServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequestData(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_heads.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

void HttpServer::redirect(const QString &path, const QString &location, int status)
{
    Response response({}, NoFault, status);
    response.headers.append({"Location", location.toUtf8()});
    route(path, response);
}

void HttpServer::onRequestData(QTcpSocket *socket)
{
    QByteArray &head = m_heads[socket];
    head += socket->readAll();
    if (!head.contains("\r\n\r\n"))
        return;
    // "GET /path HTTP/1.1"; nothing more is read from this connection.
    const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
    m_heads.remove(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QString path = words.size() > 1 ? QString::fromUtf8(words[1]) : QString();
    m_requests.append(path);
    const Response response = m_routes.value(path, Response("not found", NoFault, 404));
    if (response.fault == HoldAnswer)
        m_held.append({socket, response});
    else if (response.fault != NeverAnswer)
        respond(socket, response);
}

void HttpServer::releaseHeld()
{
    for (const auto &[socket, response] : std::exchange(m_held, {})) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            respond(socket, response);
    }
}

void HttpServer::respond(QTcpSocket *socket, const Response &response)
{
    QFile file(response.filePath);
    if (response.fault == CloseAtOnce || (!response.filePath.isEmpty() && !file.open(QIODevice::ReadOnly))) {
        socket->disconnectFromHost();
        return;
    }
    const QByteArray body = file.isOpen() ? file.readAll() : response.body;
    static const QHash<int, QByteArray> reasons = {
        {200, "OK"},    {204, "No Content"},   {300, "Multiple Choices"}, {301, "Moved Permanently"},
        {302, "Found"}, {304, "Not Modified"}, {404, "Not Found"},        {500, "Server Error"}};
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasons.value(response.status, "Status") + "\r\nConnection: close\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (response.fault != NoContentLength) {
        const qint64 length = response.fault == WrongLength ? response.declaredLength : body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    for (const auto &[name, value] : std::as_const(response.headers))
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n");
    if (response.fault == Trickle) {
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, body, sent = qsizetype(0)]() mutable {
            if (sent < body.size())
                socket->write(body.mid(sent++, 1));
            else
                socket->disconnectFromHost();
        });
        timer->start(response.trickleMs);
        return;
    }
    // A cut answer closes after faultAt bytes of its body, a stalled one sends
    // no more and stays open. The socket sends what is written before it closes.
    const bool partial = response.fault == CutBody || response.fault == Stall;
    socket->write(partial ? body.left(response.faultAt) : body);
    if (response.fault != Stall)
        socket->disconnectFromHost();
}
