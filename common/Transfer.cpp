#include "Transfer.h"

#include "Names.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace {

// What a download keeps in memory before it is read: the reply stops taking
// from the socket beyond this, so a large file never piles up.
constexpr qint64 kDownloadBuffer = 512 * 1024;
constexpr int kMaxRedirects = 10;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

} // namespace

Transfer::Transfer(QObject *parent) : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("%1 秒内没有完成").arg(seconds(m_deadlineMs))); });
    m_speedWindow.setInterval(kTimeoutMs);
    connect(&m_speedWindow, &QTimer::timeout, this, &Transfer::checkSpeed);
}

Transfer::~Transfer()
{
    cancel();
}

void Transfer::setIdleTimeout(int ms)
{
    m_idleTimeoutMs = ms;
    m_deadlineMs = ms * kDeadlineFactor;
    m_speedWindow.setInterval(ms);
}

void Transfer::setLowestSpeed(qint64 bytesPerSecond, int windowMs)
{
    m_lowestSpeed = bytesPerSecond;
    m_speedWindow.setInterval(windowMs);
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
    m_deadline.stop();
    m_speedWindow.stop();
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
    m_taken = 0;
    m_contentLength = -1;
    m_contentType.clear();
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
    request.setHeader(QNetworkRequest::UserAgentHeader, Names::kPlayerProgram);
    // The bytes as sent are the bytes counted against Content-Length: asking
    // for them plainly also keeps Qt from unpacking a compressed body.
    request.setRawHeader("Accept-Encoding", "identity");
    // No byte for this long aborts the reply (as OperationCanceledError).
    request.setTransferTimeout(m_idleTimeoutMs);
    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    m_running = true;
    if (kind == Kind::Download)
        reply->setReadBufferSize(kDownloadBuffer);
    connect(reply, &QNetworkReply::metaDataChanged, this, &Transfer::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &Transfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Transfer::onFinished);
    m_deadline.start(m_deadlineMs);
    setState(Connecting);
}

bool Transfer::isAnswer() const
{
    return m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

void Transfer::onMetaData()
{
    QNetworkReply *reply = m_reply.data();
    // A redirect on its way, or a status that fails when the reply ends.
    if (!reply || !isAnswer())
        return;
    // Two Content-Length headers reach us joined as "100, 2000" (Qt 6.4) or,
    // in other versions, as two entries, while Qt frames the body by the
    // first; either way the answer is refused. So is "+100" or "100x".
    QList<QByteArray> lengths;
    for (const auto &[name, value] : reply->rawHeaderPairs()) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            lengths.append(value);
    }
    if (!lengths.isEmpty()) {
        const QByteArray &value = lengths.constFirst();
        const bool plainNumber =
            !value.isEmpty() && value.size() <= 18 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (lengths.size() > 1 || !plainNumber) {
            fail(QStringLiteral("服务器给出的长度无效：%1").arg(QString::fromLatin1(lengths.join(", "))));
            return;
        }
        m_contentLength = value.toLongLong();
    }
    const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!coding.isEmpty() && coding != "identity") {
        fail(QStringLiteral("服务器发来的是压缩的内容（%1）").arg(QString::fromLatin1(coding)));
        return;
    }
    if (m_kind == Kind::Page && m_contentLength > m_pageLimit) {
        fail(QStringLiteral("页面太大"));
        return;
    }
    m_contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    // The speed counts from the answer on: the time before it is the time-out's.
    if (m_lowestSpeed > 0 && !m_speedWindow.isActive()) {
        m_windowStart = received();
        m_speedWindow.start();
    }
    setState(ReceivingResponse);
}

void Transfer::onReadyRead()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    if (!isAnswer()) {
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

// Why a finished 200 answer of `received` bytes is not whole, or "".
QString Transfer::wholeAnswerProblem(qint64 received) const
{
    if (m_contentLength >= 0 && received != m_contentLength)
        return QStringLiteral("收到 %1 字节，服务器说是 %2 字节").arg(received).arg(m_contentLength);
    if (m_kind == Kind::Page)
        return received > m_pageLimit ? QStringLiteral("页面太大") : QString();
    if (m_contentLength < 0 && !m_reply->rawHeader("Transfer-Encoding").toLower().contains("chunked"))
        return QStringLiteral("服务器没有给出文件的长度，无法确认文件是否完整");
    if (received == 0)
        return QStringLiteral("服务器发来的文件是空的");
    return QString();
}

void Transfer::onFinished()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Only the transfer time-out cancels: our own aborts come unheard.
        fail(QStringLiteral("%1 秒内没有收到数据").arg(seconds(m_idleTimeoutMs)));
        return;
    }
    if (reply->error() != QNetworkReply::NoError && status < 400) {
        fail(QStringLiteral("连接出错：%1").arg(reply->errorString()));
        return;
    }
    if (status != 200) {
        fail(QStringLiteral("服务器回答 %1").arg(status));
        return;
    }
    if (m_kind == Kind::Page)
        m_page += reply->read(m_pageLimit + 1 - m_page.size());
    const qint64 received = m_kind == Kind::Page ? m_page.size() : m_taken + reply->bytesAvailable();
    if (const QString problem = wholeAnswerProblem(received); !problem.isEmpty()) {
        fail(problem);
        return;
    }
    m_deadline.stop();
    m_speedWindow.stop();
    m_running = false;
    if (m_kind == Kind::Download) {
        // The reply stays until the next request: the rest of the body is
        // still to be read.
        setState(ResponseCompleted);
        return;
    }
    m_reply.clear();
    reply->deleteLater();
    const QByteArray page = std::exchange(m_page, {});
    setState(ResponseCompleted);
    emit pageFetched(true, page);
}

qint64 Transfer::received() const
{
    return (m_kind == Kind::Page ? m_page.size() : m_taken) + (m_reply ? m_reply->bytesAvailable() : 0);
}

void Transfer::checkSpeed()
{
    const qint64 now = received();
    const int windowMs = m_speedWindow.interval();
    if (now - m_windowStart < m_lowestSpeed * windowMs / 1000) {
        fail(QStringLiteral("速度太慢：%1 秒内只收到 %2 字节")
                 .arg(seconds(windowMs))
                 .arg(now - m_windowStart));
        return;
    }
    m_windowStart = now;
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

QByteArray Transfer::read(qint64 maxSize)
{
    const QByteArray block = m_reply ? m_reply->read(maxSize) : QByteArray();
    m_taken += block.size();
    return block;
}

qint64 Transfer::read(char *data, qint64 maxSize)
{
    const qint64 got = m_reply ? m_reply->read(data, maxSize) : 0;
    if (got <= 0)
        return 0;
    m_taken += got;
    return got;
}

qint64 Transfer::bytesAvailable() const
{
    return m_reply ? m_reply->bytesAvailable() : 0;
}

QString Transfer::textOf(const QByteArray &body) const
{
    const qsizetype at = m_contentType.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        const QString charset =
            m_contentType.mid(at + 8).section(QLatin1Char(';'), 0, 0).remove(QLatin1Char('"')).trimmed();
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QString::fromUtf8(body);
}
