#include "Transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>

namespace {

// What a download keeps in memory before it is read: the reply stops taking
// from the socket beyond this, so a large file never piles up.
constexpr qint64 kDownloadBuffer = 512 * 1024;
constexpr int kMaxRedirects = 10;

} // namespace

Transfer::Transfer(QObject *parent) : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("%1 秒内没有收到数据").arg(m_idleTimeoutMs / 1000)); });
}

Transfer::~Transfer()
{
    cancel();
}

void Transfer::openUrl(const QString &address)
{
    start(address, Kind::Page);
}

void Transfer::execute(const QString &address)
{
    start(address, Kind::Download);
}

void Transfer::cancel()
{
    m_idle.stop();
    m_running = false;
    if (QNetworkReply *reply = m_reply.data()) {
        m_reply.clear();
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Transfer::start(const QString &address, Kind kind)
{
    cancel();
    ++m_generation;
    m_kind = kind;
    m_page.clear();
    m_headers.clear();
    m_error.clear();

    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        // Reported on the next turn, as every other outcome is, unless
        // another request has been started by then.
        m_running = true;
        const quint64 generation = ++m_generation;
        QTimer::singleShot(0, this, [this, address, generation] {
            if (generation == m_generation && m_running)
                fail(QStringLiteral("无效的地址：%1").arg(address));
        });
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("TamselMP3Player"));
    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    m_running = true;
    if (kind == Kind::Download)
        reply->setReadBufferSize(kDownloadBuffer);
    connect(reply, &QNetworkReply::metaDataChanged, this, &Transfer::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &Transfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Transfer::onFinished);
    m_idle.start(m_idleTimeoutMs);
    setState(Connecting);
}

void Transfer::onMetaData()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    m_idle.start(m_idleTimeoutMs);
    // A redirect's own headers are not the answer's.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400)
        return;
    m_headers = reply->rawHeaderPairs();
    // An error status fails when the reply finishes; its body is never used.
    if (status >= 400)
        return;
    if (m_kind == Kind::Page && contentLength() > m_pageLimit) {
        fail(QStringLiteral("页面太大"));
        return;
    }
    setState(ReceivingResponse);
}

void Transfer::onReadyRead()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    m_idle.start(m_idleTimeoutMs);
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400) {
        reply->readAll(); // an error page is not the file
        return;
    }
    if (m_kind == Kind::Download) {
        emit readyRead();
        return;
    }
    m_page += reply->read(m_pageLimit + 1 - m_page.size());
    if (m_page.size() > m_pageLimit)
        fail(QStringLiteral("页面太大"));
}

void Transfer::onFinished()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    m_idle.stop();
    m_running = false;
    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        fail(status >= 400 ? QStringLiteral("服务器回答 %1").arg(status) : reply->errorString());
        return;
    }
    if (m_kind == Kind::Download) {
        // The reply stays until the next request: the rest of the body is
        // still to be read.
        setState(ResponseCompleted);
        return;
    }
    m_page += reply->readAll();
    if (m_page.size() > m_pageLimit) {
        fail(QStringLiteral("页面太大"));
        return;
    }
    m_reply.clear();
    reply->deleteLater();
    const QByteArray page = std::exchange(m_page, {});
    setState(ResponseCompleted);
    emit pageFetched(true, page);
}

void Transfer::fail(const QString &why)
{
    m_error = why;
    cancel();
    m_page.clear();
    setState(Error);
    if (m_kind == Kind::Page)
        emit pageFetched(false, QByteArray());
}

void Transfer::setState(int state)
{
    m_state = state;
    emit stateChanged(state);
}

QString Transfer::header(const QByteArray &name) const
{
    for (const auto &[key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(value);
    }
    return QString();
}

qint64 Transfer::contentLength() const
{
    bool ok = false;
    const qint64 length = header("Content-Length").trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

QByteArray Transfer::read(qint64 maxSize)
{
    return m_reply ? m_reply->read(maxSize) : QByteArray();
}

qint64 Transfer::bytesAvailable() const
{
    return m_reply ? m_reply->bytesAvailable() : 0;
}

QString Transfer::textOf(const QByteArray &body) const
{
    const QString type = header("Content-Type");
    const qsizetype at = type.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        const QString charset =
            type.mid(at + 8).section(QLatin1Char(';'), 0, 0).remove(QLatin1Char('"')).trimmed();
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QString::fromUtf8(body);
}
