#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

// The windows' one way onto the web: a whole page, or a download streamed as
// it arrives. Nothing here blocks: results come back as signals on the UI
// thread, so the window repaints and answers while a request runs. One request
// at a time; starting another, or destroying the transfer with its window,
// drops the running one without a word.
//
// Guards: no answer or no progress for the idle time-out (15 s) fails the
// request; a page is at most 4 MB; redirects never go from https to http; an
// HTTP error status is a failure.
class Transfer : public QObject
{
    Q_OBJECT
public:
    // The request's states, numbered as the windows have always known them.
    enum State {
        Idle = 0,
        Connecting = 3,
        ReceivingResponse = 7,
        Error = 11,
        ResponseCompleted = 12,
    };

    static constexpr int kDefaultIdleTimeoutMs = 15000;
    static constexpr qint64 kDefaultPageLimit = 4 * 1024 * 1024;

    explicit Transfer(QObject *parent = nullptr);
    ~Transfer() override;

    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    void setPageLimit(qint64 bytes) { m_pageLimit = bytes; }

    // Fetches the whole page; pageFetched() follows once.
    void openUrl(const QString &address);
    // Starts a download; stateChanged() reports its course, readyRead() the
    // body's blocks, to be taken with read(). When ResponseCompleted is
    // reported, what is left of the body is still to be read.
    void execute(const QString &address);
    // Drops the running request; no signal of it follows.
    void cancel();

    bool stillExecuting() const { return m_running; }
    int state() const { return m_state; }
    // Why the last request failed, in a sentence.
    QString errorString() const { return m_error; }

    // Of the last response: a header's value ("" when absent), and the body's
    // declared length (-1 when none or not a number).
    QString header(const QByteArray &name) const;
    qint64 contentLength() const;

    // The body's bytes received and not read yet, at most maxSize of them.
    QByteArray read(qint64 maxSize);
    qint64 bytesAvailable() const;

    // A page's bytes as text, in the character set its response named
    // (UTF-8 when it named none).
    QString textOf(const QByteArray &body) const;

signals:
    void pageFetched(bool ok, const QByteArray &body);
    void stateChanged(int state);
    void readyRead();

private:
    enum class Kind { Page, Download };

    void start(const QString &address, Kind kind);
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void fail(const QString &why);
    void setState(int state);

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer m_idle;
    Kind m_kind = Kind::Page;
    int m_state = Idle;
    bool m_running = false;
    quint64 m_generation = 0;
    int m_idleTimeoutMs = kDefaultIdleTimeoutMs;
    qint64 m_pageLimit = kDefaultPageLimit;
    QByteArray m_page;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QString m_error;
};
