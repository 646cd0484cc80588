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
// What counts as an answer: the final status is 200 (redirects are followed,
// never from https to http); a Content-Length, when there is one, is a single
// plain number and the body is exactly that long; the body is not coded
// (gzip and the like). A download must also say where it ends (a length, or
// chunks), since a connection that just closes cannot be told from one that
// was cut, and it must not be empty. A page is at most 4 MB. Anything else
// ends in Error, with the reason in errorString().
//
// Time: a request fails when no byte arrives for the time-out, when fewer
// bytes than the lowest speed allows arrive in one speed window of its answer
// (a site that trickles), and when it has not finished within
// kDeadlineFactor times the time-out.
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

    // The one time-out figure of both programs: no byte for 30 s fails a
    // request, and so does a request still running after 15 minutes.
    static constexpr int kTimeoutMs = 30 * 1000;
    static constexpr int kDeadlineFactor = 30;
    // Once the answer has begun, each time-out's span must bring this many
    // bytes per second: 30 kB in 30 s. A slow real link does 50 times that.
    static constexpr qint64 kLowestSpeed = 1024;
    static constexpr qint64 kDefaultPageLimit = 4 * 1024 * 1024;

    explicit Transfer(QObject *parent = nullptr);
    ~Transfer() override;

    // Sets the time-out and, from it, the speed window and the deadline.
    void setIdleTimeout(int ms);
    // Sets the lowest speed and its window alone (after setIdleTimeout); 0 bytes: none.
    void setLowestSpeed(qint64 bytesPerSecond, int windowMs);
    // Sets the deadline alone (after setIdleTimeout, which resets it).
    void setDeadline(int ms) { m_deadlineMs = ms; }
    void setPageLimit(qint64 bytes) { m_pageLimit = bytes; }

    // Fetches the whole page; pageFetched() follows once.
    void openUrl(const QString &address);
    // Starts a download; stateChanged() reports its course, readyRead() the
    // body's blocks, to be taken with read(). ResponseCompleted comes only
    // for a whole answer as described above; what is left of its body is
    // still to be read then.
    void execute(const QString &address);
    // Drops the running request; no signal of it follows.
    void cancel();

    bool stillExecuting() const { return m_running; }
    int state() const { return m_state; }
    // Why the last request failed, in a sentence.
    QString errorString() const { return m_error; }

    // The declared length of the last answer's body, -1 when it has none.
    qint64 contentLength() const { return m_contentLength; }

    // The body's bytes received and not read yet, at most maxSize of them.
    QByteArray read(qint64 maxSize);
    // The same into data; how many (0 when none wait).
    qint64 read(char *data, qint64 maxSize);
    qint64 bytesAvailable() const;

    // A page's bytes as text, in the character set its answer named (UTF-8
    // when it named none).
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
    void checkSpeed();
    // The answer's body bytes that have arrived so far.
    qint64 received() const;
    QString wholeAnswerProblem(qint64 received) const;
    void fail(const QString &why);
    void setState(int state);
    bool isAnswer() const;

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QTimer m_speedWindow;
    Kind m_kind = Kind::Page;
    int m_state = Idle;
    bool m_running = false;
    quint64 m_generation = 0;
    int m_idleTimeoutMs = kTimeoutMs;
    int m_deadlineMs = kTimeoutMs * kDeadlineFactor;
    qint64 m_lowestSpeed = kLowestSpeed;
    // What had arrived when the current speed window began.
    qint64 m_windowStart = 0;
    qint64 m_pageLimit = kDefaultPageLimit;
    QByteArray m_page;
    // Of a download: the bytes handed out by read().
    qint64 m_taken = 0;
    qint64 m_contentLength = -1;
    QString m_contentType;
    QString m_error;
};
