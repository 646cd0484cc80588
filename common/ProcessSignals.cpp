#include "ProcessSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

// The handler only writes a byte here; the UI thread reads it.
int s_pipe[2] = {-1, -1};
constexpr int kCaught[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction s_previous[std::size(kCaught)] = {};
struct sigaction s_previousFileSize = {};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(s_pipe[1], &byte, 1); // a full pipe already has a quit pending
    errno = saved;
}

} // namespace

ProcessSignals::ProcessSignals(QObject *parent) : QObject(parent)
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &s_previousFileSize);

    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("ProcessSignals: no pipe; SIGTERM, SIGINT and SIGHUP keep their default action");
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ProcessSignals::drain);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kCaught); ++i)
        sigaction(kCaught[i], &action, &s_previous[i]);
}

ProcessSignals::~ProcessSignals()
{
    if (m_notifier) {
        for (size_t i = 0; i < std::size(kCaught); ++i)
            sigaction(kCaught[i], &s_previous[i], nullptr);
        delete m_notifier;
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }
    sigaction(SIGXFSZ, &s_previousFileSize, nullptr);
}

void ProcessSignals::drain()
{
    char bytes[64];
    bool any = false;
    while (::read(s_pipe[0], bytes, sizeof bytes) > 0)
        any = true;
    if (any)
        emit quitRequested();
}
