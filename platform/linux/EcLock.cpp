#include "platform/EcLock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyk::platform {

namespace {
std::string LockPath()
{
    struct stat st {};
    for (const char* folder : {"/run/lock", "/var/lock"})
        if (::stat(folder, &st) == 0 && S_ISDIR(st.st_mode))
            return std::string(folder) + "/vyk_uu-ec.lock";
    return "/tmp/vyk_uu-ec.lock";
}
} // namespace

std::string EcLock::Name() { return LockPath(); }

std::unique_ptr<EcLock> EcLock::Take() { return TakeFile(LockPath()); }

std::unique_ptr<EcLock> EcLock::TakeFile(const std::string& path)
{
    // Read-only and never truncated: taking the lock writes nothing. The
    // folder is writable by all: a link planted there is not followed, and
    // an existing file is opened without O_CREAT, which the kernel's
    // protection of such folders would refuse for a file of another user.
    // Never waiting either: a FIFO planted there would hold the open until
    // someone writes to it.
    constexpr int how = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), how);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), how | O_CREAT | O_EXCL, 0644);
        if (fd < 0 && errno == EEXIST)   // made by another program just now
            fd = ::open(path.c_str(), how);
    }
    if (fd < 0)
        throw NoPortAccess("cannot open the EC lock " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw NoPortAccess("the EC lock " + path + " is not a regular file");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            throw EcInUse("the EC is in use: another program holds the lock " + path + "; nothing was done");
        throw NoPortAccess("cannot lock " + path + ": " + std::strerror(error));
    }
    std::unique_ptr<EcLock> lock(new EcLock());
    lock->fd_ = fd;
    return lock;
}

EcLock::~EcLock()
{
    // Closing releases the lock; the file stays, so no later holder's lock
    // is ever on a file that has gone.
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace vyk::platform
