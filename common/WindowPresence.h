#pragma once

#include <QString>

#include <memory>

// Which windows of our two programs exist, seen from any process of the same
// user. Each open window holds a locked record file; the kernel drops the lock
// when its process ends, so a crashed program's window never counts.
namespace WindowPresence {

// Every window of both programs has this class name.
constexpr const char *kWindowClass = "ThunderRT6FormDC";

class Registration
{
public:
    Registration(const QString &className, const QString &caption);
    ~Registration();
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

    bool isActive() const;

private:
    int m_fd = -1;
    QString m_path;
};

// Announces a window for as long as the returned object lives.
std::unique_ptr<Registration> announce(const QString &caption,
                                       const QString &className = QString::fromLatin1(kWindowClass));

bool exists(const QString &caption, const QString &className = QString::fromLatin1(kWindowClass));

// Folder of the records: "tamsel-<uid>" in the user's runtime folder
// ($XDG_RUNTIME_DIR, or Qt's private stand-in for it), made 0700. "" (and a
// warning) when there is none, or it is not a folder of this user's that
// nobody else can write into: then no window is announced or found.
QString recordFolder();

// Removes path only while it still names the file open as fd.
bool removeIfSame(const QString &path, int fd);

} // namespace WindowPresence
