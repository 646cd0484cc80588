#include "FileTricks.h"

#include <QFile>

#include <chrono>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

FileSizeLimit::FileSizeLimit(rlim_t bytes, bool keepSignal) : m_keepSignal(keepSignal)
{
    if (!m_keepSignal)
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
    if (!m_keepSignal)
        std::signal(SIGXFSZ, m_oldHandler);
}

namespace {
constexpr int kNobody = 65534;
}

UnprivilegedFiles::UnprivilegedFiles()
{
    if (::geteuid() != 0) {
        m_active = true;
        return;
    }
    m_wasRoot = true;
    ::setfsgid(kNobody);
    ::setfsuid(kNobody);
    // Both calls return the previous value: asking again tells whether it took.
    m_active = ::setfsuid(kNobody) == kNobody && ::setfsgid(kNobody) == kNobody;
}

UnprivilegedFiles::~UnprivilegedFiles()
{
    if (m_wasRoot) {
        ::setfsuid(0);
        ::setfsgid(0);
    }
}

FifoWatch::FifoWatch(const QString &path) : m_path(QFile::encodeName(path))
{
    m_valid = ::mkfifo(m_path.constData(), 0666) == 0;
    if (!m_valid)
        return;
    m_thread = std::thread([this] {
        while (!m_stop) {
            // Opening the writing end without blocking succeeds only while a reader has it open.
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_readerSeen = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

FifoWatch::~FifoWatch()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}
