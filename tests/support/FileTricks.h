#pragma once

#include <QString>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <thread>

// While alive, no file of this process may grow past the given size: a write
// beyond it fails with EFBIG, as on a full disk, after part of the data went
// out. This works for root too. keepSignal leaves SIGXFSZ as it is, for a test
// of who ignores it; otherwise it is ignored for the while.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes, bool keepSignal = false);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_old = {};
    bool m_keepSignal;
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

// While alive, this thread opens files with the rights of an ordinary user, so
// that permission bits count. For root the filesystem user becomes nobody,
// which also drops the override of permissions; other users need nothing.
// Folders the test makes must then be open to others (0755, not 0700).
class UnprivilegedFiles
{
public:
    UnprivilegedFiles();
    ~UnprivilegedFiles();
    UnprivilegedFiles(const UnprivilegedFiles &) = delete;
    UnprivilegedFiles &operator=(const UnprivilegedFiles &) = delete;
    bool active() const { return m_active; }

private:
    bool m_wasRoot = false;
    bool m_active = false;
};

// Makes a FIFO and watches, from a thread of its own, whether anyone opens it
// for reading. Such a reader would wait for a writer for ever: the watch then
// opens the writing end and closes it again, so the reader sees the end of
// the data and the test goes on to fail instead of hanging.
class FifoWatch
{
public:
    explicit FifoWatch(const QString &path);
    ~FifoWatch();
    FifoWatch(const FifoWatch &) = delete;
    FifoWatch &operator=(const FifoWatch &) = delete;
    bool isValid() const { return m_valid; }
    bool readerSeen() const { return m_readerSeen; }

private:
    QByteArray m_path;
    bool m_valid = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_readerSeen{false};
    std::thread m_thread;
};
