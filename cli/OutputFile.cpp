#include "cli/OutputFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/ExitCodes.h"
#include "cli/Interrupt.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vyk::cli {

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

} // namespace

OutputFile::~OutputFile() { Discard(); }

OutputFile::Problem OutputFile::Prepare(const std::string& path, const Rules& rules)
{
    keepExisting_ = rules.keepExisting;
    const std::string noun = std::string(rules.noun) + " ";
    if (path == "-") {
        if (IsTerminal(1))
            return {ExitUsage, "-o -: standard output is a terminal; redirect it to a file or a pipe"};
        toStdout_ = true;
        target_ = "standard output";
        return {};
    }
    if (path.empty())
        return {ExitUsage, "the output file name is empty"};

    // Follow links to the file they name: writing goes there, the link stays.
    fs::path target = path;
    std::error_code ec;
    for (int hops = 0;; ++hops) {
        const fs::file_status link = fs::symlink_status(target, ec);
        if (!fs::is_symlink(link))
            break;
        if (hops == 40)
            return {ExitFile, noun + path + ": too many symbolic links"};
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            return {ExitFile, noun + path + ": cannot read the link " + target.string() + ": " + ec.message()};
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    const std::string shown = target.string() == path ? path : path + " (the link's target " + target.string() + ")";
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status))
        return {ExitFile, noun + shown + " is " + KindOf(status.type()) + "; give a regular file"};
    if (target.filename().empty() || IsDeviceName(target))
        return {ExitFile, noun + shown + " names a folder or a device; give a regular file"};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
        return {ExitFile, noun + "folder " + folder.string() + " does not exist"};
    if (!rules.refusedFolder.empty() && LiesInside(target, rules.refusedFolder))
        return {ExitFile, noun + shown + " lies inside the simulated notebook's folder " + rules.refusedFolder +
                              ", whose files are the notebook itself; write it elsewhere"};
    if (fs::exists(fs::symlink_status(path, ec)) && rules.keepExisting)
        return {ExitFile, noun + shown + " exists, and it is never replaced", true};
    if (fs::exists(status) && !WritableInPlace(target))
        return {ExitFile, noun + shown + ": " + Why() +
                              ": it is not writable for you, so it is not replaced (as cp would not replace it); "
                              "make it writable or give another name"};
#ifndef _WIN32
    struct stat st {};
    if (fs::exists(status) && ::stat(target.c_str(), &st) == 0)
        keepMode_ = st.st_mode & 07777;
#endif

    // Made now, so that a folder we cannot write is found before the EC is.
    const std::string base = target.string() + ".vykuu-" + std::to_string(ProcessId());
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = base + (attempt ? "-" + std::to_string(attempt) : "") + ".tmp";
        fd_ = OpenNew(temporary_);
        if (fd_ < 0 && (errno != EEXIST || attempt == 9)) {
            const int error = errno;
            const std::string name = temporary_;
            temporary_.clear();
            if (error == EACCES || error == EPERM || error == EROFS)
                return {ExitFile, noun + shown + ": cannot write in its folder " +
                                      fs::absolute(folder, ec).string() + ": " + Why(error)};
            return {ExitFile, noun + shown + ": cannot create a temporary file beside it (" + name + "): " +
                                  Why(error)};
        }
    }
    SetTemporaryFile(temporary_);
    target_ = target.string();
    return {};
}

OutputFile::Problem OutputFile::Commit(const uint8_t* data, size_t size)
{
    if (toStdout_) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        std::fflush(stdout);
        const bool ok = std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
        if (!ok)
            return {ExitFile, "standard output: write failed: " + Why()};
        return {};
    }
    size_t done = 0;
    while (done < size) {
        const int n = WriteSome(fd_, data + done, size - done);
        if (n <= 0) {
            const std::string why = Why();
            const std::string name = temporary_;
            Discard();
            return {ExitFile, "cannot write " + name + ": " + why};
        }
        done += static_cast<size_t>(n);
    }
#ifndef _WIN32
    if (keepMode_)
        ::fchmod(fd_, keepMode_);
#endif
    const bool synced = SyncFile(fd_) == 0;
    const std::string syncWhy = synced ? std::string() : Why();
    const bool closed = CloseFile(fd_) == 0;
    const std::string closeWhy = closed ? std::string() : Why();
    fd_ = -1;
    if (!synced || !closed) {
        const std::string name = temporary_;
        Discard();
        return {ExitFile, "cannot write " + name + ": " + (synced ? closeWhy : syncWhy)};
    }
    if (keepExisting_) {
        bool existed = false;
        const std::string why = RenameNew(temporary_, target_, existed);
        if (!why.empty()) {
            const std::string name = temporary_;
            Discard();
            if (existed)
                return {ExitFile, target_ + " was made by someone else meanwhile; it is left as it is"};
            return {ExitFile, "cannot rename " + name + " to " + target_ + ": " + why};
        }
    } else {
        std::error_code ec;
        fs::rename(temporary_, target_, ec);
        if (ec) {
            const std::string name = temporary_;
            Discard();
            return {ExitFile, "cannot rename " + name + " to " + target_ + ": " + ec.message()};
        }
    }
    temporary_.clear();
    SetTemporaryFile({});
    return {};
}

void OutputFile::Discard()
{
    if (fd_ >= 0)
        CloseFile(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        SetTemporaryFile({});
        std::error_code ec;
        fs::remove(temporary_, ec);
        temporary_.clear();
    }
}

} // namespace vyk::cli
