#include "platform/OutputFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/Failure.h"
#include "platform/StopSignals.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vyk::platform {

namespace fs = std::filesystem;

namespace {

std::string Why(int error = errno) { return std::strerror(error); }

#ifdef _WIN32
int OpenNew(const std::string& path) { return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE); }
int WriteSome(int fd, const uint8_t* data, size_t size) { return _write(fd, data, static_cast<unsigned>(size)); }
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }
bool IsTerminal(int fd) { return _isatty(fd); }
// The read-only attribute, which is what makes a copy refuse a file here.
bool WritableInPlace(const fs::path& path) { return _access(path.string().c_str(), 2) == 0; }
bool SameName(const fs::path& a, const fs::path& b) { return _stricmp(a.string().c_str(), b.string().c_str()) == 0; }

// Empty on success; `existed` tells a name that was taken meanwhile.
std::string RenameNew(const std::string& from, const std::string& to, bool& existed)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD error = GetLastError();
    existed = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return std::system_category().message(static_cast<int>(error));
}

bool ProcessAlive(unsigned long pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER;   // denied: it exists
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

// A live run keeps its temporary file open without delete sharing, so the
// delete fails for it whatever its process id says.
bool RemoveIfLeftOver(const fs::path& file, unsigned long pid)
{
    return !ProcessAlive(pid) && DeleteFileA(file.string().c_str());
}

// CON, NUL, COM1, ... name devices in every folder, whatever follows a dot.
bool IsDeviceName(const fs::path& name)
{
    std::string stem = name.filename().string();
    stem = stem.substr(0, stem.find('.'));
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}
#else
int OpenNew(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666); }
int WriteSome(int fd, const uint8_t* data, size_t size) { return static_cast<int>(::write(fd, data, size)); }
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }
bool IsTerminal(int fd) { return ::isatty(fd); }
bool IsDeviceName(const fs::path&) { return false; }
// For the effective user, as cp decides.
bool WritableInPlace(const fs::path& path) { return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }
bool SameName(const fs::path& a, const fs::path& b) { return a == b; }

// A file with no name in `folder`, that vanishes unless linked; -1 with errno.
int OpenNameless(const fs::path& folder) { return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); }
std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }
// Fails with EEXIST when the name is taken: linking never replaces.
bool LinkNameless(int fd, const std::string& to)
{
    return ::linkat(AT_FDCWD, FdPath(fd).c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0;
}
// Held while the file is ours: a run in another process-id namespace (a
// container sharing the folder) can have our process id, not our lock.
bool LockFile(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }
bool ProcessAlive(unsigned long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// Removed only when the process its name carries is gone and no one holds
// its lock, checked on the very file that is unlinked.
bool RemoveIfLeftOver(const fs::path& file, unsigned long pid)
{
    if (ProcessAlive(pid))
        return false;
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat held {}, named {};
    const bool gone = LockFile(fd) && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
                      ::lstat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
                      held.st_ino == named.st_ino && ::unlink(file.c_str()) == 0;
    ::close(fd);
    return gone;
}

std::string RenameNew(const std::string& from, const std::string& to, bool& existed)
{
    existed = false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        existed = errno == EEXIST;
        return Why();
    }
    // The file system cannot rename without replacing; a hard link cannot
    // replace either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
        existed = errno == EEXIST;
        return Why();
    }
    // Neither (FAT): the name is looked at just before.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        existed = true;
        return std::strerror(EEXIST);
    }
    fs::rename(from, to, ec);
    return ec ? ec.message() : std::string();
}
#endif

// The process id in the name of a temporary file made for the file named
// `target` ("out.bin.vykuu-1234.tmp", "out.bin.vykuu-1234-2.tmp"); 0: not one.
unsigned long TemporaryOwner(const std::string& name, const std::string& target)
{
    const std::string head = target + ".vykuu-", tail = ".tmp";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
    const size_t dash = middle.find('-');
    const auto number = [](const std::string& text) {
        return !text.empty() && text.size() <= 9 &&
               text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!number(middle.substr(0, dash)) || (dash != std::string::npos && !number(middle.substr(dash + 1))))
        return 0;
    return std::stoul(middle.substr(0, dash));
}

// Temporary files beside `target` that runs which ended at once (killed,
// a power cut) left behind.
void RemoveLeftovers(const fs::path& folder, const std::string& target)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const unsigned long pid = TemporaryOwner(it->path().filename().string(), target);
        std::error_code typeError;
        if (pid && it->symlink_status(typeError).type() == fs::file_type::regular)
            RemoveIfLeftOver(it->path(), pid);
    }
}

std::string TemporaryBase(const std::string& target) { return target + ".vykuu-" + std::to_string(ProcessId()); }
std::string TemporaryName(const std::string& base, int attempt)
{
    return base + (attempt ? "-" + std::to_string(attempt) : "") + ".tmp";
}

// Whether `path` lies in `folder` or below it, both as they resolve now.
bool LiesInside(const fs::path& path, const fs::path& folder)
{
    std::error_code ec;
    fs::path inner = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        return false;
    fs::path outer = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec)
        return false;
    if (outer.filename().empty())
        outer = outer.parent_path();
    auto o = outer.begin();
    for (auto i = inner.begin(); o != outer.end(); ++o, ++i)
        if (i == inner.end() || !SameName(*i, *o))
            return false;
    return true;
}

} // namespace

std::string AbsolutePath(const std::string& path)
{
    if (path == "-")
        return path;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

std::string FileFacts(const std::string& path)
{
#ifdef _WIN32
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0)
        return Why();
    const std::time_t when = static_cast<std::time_t>(st.st_mtime);
    std::tm tm {};
    gmtime_s(&tm, &when);
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Why();
    const std::time_t when = st.st_mtime;
    std::tm tm {};
    gmtime_r(&when, &tm);
#endif
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return std::to_string(static_cast<long long>(st.st_size)) + " bytes, modified " + time;
}

const char* KindOf(fs::file_type type)
{
    switch (type) {
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    case fs::file_type::socket: return "a socket";
    default: return "not a regular file";
    }
}

OutputFile::~OutputFile() { Discard(); }

namespace {

// The file a link names, followed link by link: writing goes there, the link stays.
fs::path FollowLinks(const std::string& path, const std::string& noun)
{
    fs::path target = path;
    std::error_code ec;
    for (int hops = 0;; ++hops) {
        const fs::file_status link = fs::symlink_status(target, ec);
        if (!fs::is_symlink(link))
            return target;
        if (hops == 40)
            throw Failure(Fault::File, noun + path + ": too many symbolic links");
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            throw Failure(Fault::File, noun + path + ": cannot read the link " + target.string() + ": " + ec.message());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

} // namespace

void OutputFile::Prepare(const std::string& path, const Rules& rules)
{
    keepExisting_ = rules.keepExisting || rules.keepExistingTarget;
    const std::string noun = std::string(rules.noun) + " ";
    if (path == "-") {
        if (IsTerminal(1))
            throw Failure(Fault::Usage, "-o -: standard output is a terminal; redirect it to a file or a pipe");
        toStdout_ = true;
        target_ = "standard output";
        return;
    }
    if (path.empty())
        throw Failure(Fault::Usage, "the output file name is empty");

    const fs::path target = FollowLinks(path, noun);
    const std::string shown = target.string() == path ? path : path + " (the link's target " + target.string() + ")";
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status))
        throw Failure(Fault::File, noun + shown + " is " + KindOf(status.type()) + "; give a regular file");
    if (target.filename().empty() || IsDeviceName(target))
        throw Failure(Fault::File, noun + shown + " names a folder or a device; give a regular file");
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
        throw Failure(Fault::File, noun + "folder " + folder.string() + " does not exist");
    if (!rules.refusedFolder.empty() && LiesInside(target, rules.refusedFolder))
        throw Failure(Fault::File, noun + shown + " lies inside the simulated notebook's folder " + rules.refusedFolder +
                                    ", whose files are the notebook itself; write it elsewhere");
    if (fs::exists(fs::symlink_status(path, ec)) && rules.keepExisting)
        throw NameTaken(noun + shown + " exists (" +
                        (fs::exists(status) ? FileFacts(target.string()) : std::string("a link to no file yet")) +
                        ") and is not replaced");
    if (fs::exists(status) && rules.keepExistingTarget)
        throw NameTaken(noun + shown + " exists (" + FileFacts(target.string()) + ") and is not replaced");
    if (fs::exists(status) && !WritableInPlace(target))
        throw Failure(Fault::File, noun + shown + ": " + Why() +
                                    ": it is not writable for you, so it is not replaced (as cp would not replace it); "
                                    "make it writable or give another name");
#ifndef _WIN32
    struct stat st {};
    if (fs::exists(status) && ::stat(target.c_str(), &st) == 0)
        keepMode_ = static_cast<int>(st.st_mode & 07777);
#endif
    RemoveLeftovers(folder, target.filename().string());
    // Made now, so that a folder we cannot write is found before the EC is.
    MakeTemporary(target, folder, noun + shown, rules.namedTemporary);
}

void OutputFile::MakeTemporary(const fs::path& target, const fs::path& folder, const std::string& shown,
                               bool named)
{
    const auto cannotWrite = [&](int error, const std::string& name) {
        std::error_code ec;
        if (error == EACCES || error == EPERM || error == EROFS)
            return Failure(Fault::File, shown + ": cannot write in its folder " + fs::absolute(folder, ec).string() +
                                         ": " + Why(error));
        return Failure(Fault::File, shown + ": cannot create a temporary file beside it (" + name + "): " + Why(error));
    };
#ifndef _WIN32
    if (!named) {
        fd_ = OpenNameless(folder);
        if (fd_ >= 0 && ::access(FdPath(fd_).c_str(), F_OK) == 0 && LockFile(fd_)) {
            nameless_ = true;
            target_ = target.string();
            return;
        }
        const int error = errno;
        if (fd_ < 0 && (error == EACCES || error == EPERM || error == EROFS))
            throw cannotWrite(error, folder.string());
        // The file system has no nameless files (or /proc is missing): a named one.
        if (fd_ >= 0)
            CloseFile(fd_);
        fd_ = -1;
    }
#else
    (void)named;
#endif
    const std::string base = TemporaryBase(target.string());
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = TemporaryName(base, attempt);
        fd_ = OpenNew(temporary_);
        if (fd_ < 0 && (errno != EEXIST || attempt == 9)) {
            const int error = errno;
            const std::string name = temporary_;
            temporary_.clear();
            throw cannotWrite(error, name);
        }
    }
#ifndef _WIN32
    LockFile(fd_);
#endif
    SetTemporaryFile(temporary_);
    target_ = target.string();
}

std::string OutputFile::TemporaryText() const
{
    return nameless_ ? "the temporary file for " + target_ : temporary_;
}

void OutputFile::Commit(const uint8_t* data, size_t size)
{
    if (toStdout_) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        std::fflush(stdout);
        const bool ok = std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
        if (!ok)
            throw Failure(Fault::File, "standard output: write failed: " + Why());
        return;
    }
    size_t done = 0;
    while (done < size) {
        const int n = WriteSome(fd_, data + done, size - done);
        if (n <= 0) {
            const std::string why = Why();
            const std::string name = TemporaryText();
            Discard();
            throw Failure(Fault::File, "cannot write " + name + ": " + why);
        }
        done += static_cast<size_t>(n);
    }
#ifndef _WIN32
    if (keepMode_ >= 0)
        ::fchmod(fd_, static_cast<mode_t>(keepMode_));
#endif
    // On the disk before it has the name: after a power cut the name holds
    // the old file or the whole new one.
    const bool synced = SyncFile(fd_) == 0;
    const std::string syncWhy = synced ? std::string() : Why();
    // A nameless file stays open until it is named: closing it would remove it.
    const bool closed = nameless_ || CloseFile(fd_) == 0;
    const std::string closeWhy = closed ? std::string() : Why();
    if (!nameless_)
        fd_ = -1;
    if (!synced || !closed) {
        const std::string name = TemporaryText();
        Discard();
        throw Failure(Fault::File, "cannot write " + name + ": " + (synced ? closeWhy : syncWhy));
    }
    Name();
    temporary_.clear();
    SetTemporaryFile({});
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    nameless_ = false;
}

// Gives the whole file the target's name; on failure it is removed.
void OutputFile::Name()
{
    const std::string meanwhile = target_ + " was made by someone else meanwhile; it is left as it is";
#ifndef _WIN32
    if (nameless_ && keepExisting_) {
        if (LinkNameless(fd_, target_))
            return;
        const int error = errno;
        Discard();
        if (error == EEXIST)
            throw Failure(Fault::File, meanwhile);
        throw Failure(Fault::File, "cannot give the file the name " + target_ + ": " + Why(error));
    }
    if (nameless_) {
        // Linking never replaces a file: a name of our own first, then the
        // rename over the target. A kill in between leaves that name, locked
        // until the process has gone, for the next run to remove.
        const std::string base = TemporaryBase(target_);
        for (int attempt = 0; temporary_.empty(); ++attempt) {
            const std::string name = TemporaryName(base, attempt);
            if (LinkNameless(fd_, name)) {
                temporary_ = name;
                SetTemporaryFile(temporary_);
            } else if (errno != EEXIST || attempt == 9) {
                const std::string why = Why();
                Discard();
                throw Failure(Fault::File, "cannot give the file the name " + name + ": " + why);
            }
        }
    }
#endif
    if (keepExisting_) {
        bool existed = false;
        const std::string why = RenameNew(temporary_, target_, existed);
        if (!why.empty()) {
            const std::string name = temporary_;
            Discard();
            if (existed)
                throw Failure(Fault::File, meanwhile);
            throw Failure(Fault::File, "cannot rename " + name + " to " + target_ + ": " + why);
        }
    } else {
        std::error_code ec;
        fs::rename(temporary_, target_, ec);
        if (ec) {
            const std::string name = temporary_;
            Discard();
            throw Failure(Fault::File, "cannot rename " + name + " to " + target_ + ": " + ec.message());
        }
    }
}

void OutputFile::Discard()
{
    // A nameless file goes with its last descriptor.
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    nameless_ = false;
    if (!temporary_.empty()) {
        SetTemporaryFile({});
        std::error_code ec;
        fs::remove(temporary_, ec);
        temporary_.clear();
    }
}

} // namespace vyk::platform
