#include "sim/SimFolder.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace vyk::sim {

namespace {

// The first line of the marker; the rest is the serial and a comment.
constexpr const char* MarkerTitle = "VYK_UU simulated notebook";
// One byte far past the marker's end is what is locked: on Windows a locked
// range cannot be read, and the marker must stay readable.
constexpr uint32_t LockOffset = 0x40000000;

std::string Quoted(const fs::path& p)
{
    std::string r(1, '"');
    r += p.string();
    r += '"';
    return r;
}

std::string Why() { return std::strerror(errno); }

[[noreturn]] void Fail(const std::string& text)
{
    throw PortFailure("simulated notebook: " + text);
}

std::FILE* Open(const fs::path& p, const char* mode)
{
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(p.c_str(), wmode.c_str());
#else
    return std::fopen(p.c_str(), mode);
#endif
}

// The names a notebook's own files have: a folder holding only these (an
// older notebook without its marker) may be made a notebook again by init.
bool IsNotebookFileName(const std::string& name)
{
    for (const char* own : {"port1.bin", "port2.bin", "ecram.bin", "settings.txt", SimFolder::MarkerName, "paused"})
        if (name == own || name == std::string(own) + ".tmp")
            return true;
    return false;
}

// An entry of the folder that a notebook would not have made, or empty.
std::string ForeignEntry(const fs::path& dir)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsNotebookFileName(name))
            return name;
    }
    return {};
}

// Any entry of the folder, or empty.
std::string FirstEntry(const fs::path& dir)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    return ec || it == fs::directory_iterator() ? std::string() : it->path().filename().string();
}

std::string NewSerial()
{
    std::random_device random;
    char text[16];
    std::snprintf(text, sizeof text, "SIM-%08X", static_cast<unsigned>(random()));
    return text;
}

} // namespace

const char* SimFolder::FileName(File file)
{
    switch (file) {
    case Port1: return "port1.bin";
    case Port2: return "port2.bin";
    case EcRam: return "ecram.bin";
    default: return "?";
    }
}

bool SimFolder::IsNotebook(const fs::path& dir)
{
    std::error_code ec;
    return fs::is_regular_file(dir / MarkerName, ec);
}

SimFolder::SimFolder(const fs::path& dir, Mode mode) : dir_(dir), readOnly_(mode == Mode::ReadOnly)
{
    std::error_code ec;
    const fs::path marker = dir_ / MarkerName;
    if (mode == Mode::ReadOnly) {
        if (!IsNotebook(dir_))
            Fail(Quoted(dir_) + " is not a simulated notebook: it holds no " + MarkerName +
                 " (vyksimctl init makes one)");
        ReadOrMakeMarker();
        return;
    }
    if (mode == Mode::Init) {
        fs::create_directories(dir_, ec);
        if (!fs::is_directory(dir_, ec))
            Fail(Quoted(dir_) + " is not a folder and cannot be created" + (ec ? ": " + ec.message() : ""));
        const std::string foreign = ForeignEntry(dir_);
        if (!fs::exists(marker, ec) && !foreign.empty())
            Fail(Quoted(dir_) + " holds other files (" + foreign +
                 ") and is not a simulated notebook; give an empty or new folder");
    } else {
        if (!fs::is_directory(dir_, ec))
            Fail(Quoted(dir_) + " does not exist or is not a folder (vyksimctl init makes one)");
        const std::string entry = fs::exists(marker, ec) ? std::string() : FirstEntry(dir_);
        if (!entry.empty())
            Fail(Quoted(dir_) + " is not a simulated notebook: it holds other files (" + entry + ") and no " +
                 MarkerName + " (vyksimctl init makes a notebook in an empty or new folder)");
    }
    Lock();
    try {
        ReadOrMakeMarker();
        RemoveLeftovers();
        if (mode == Mode::Init) {
            for (const char* name : {"port1.bin", "port2.bin", "ecram.bin", "settings.txt", "paused"}) {
                fs::remove(dir_ / name, ec);
                if (ec)
                    Fail("cannot remove " + Quoted(dir_ / name) + ": " + ec.message());
            }
        }
    } catch (...) {
        Unlock();
        throw;
    }
}

SimFolder::~SimFolder()
{
    for (std::FILE*& f : files_) {
        if (f)
            std::fclose(f);
        f = nullptr;
    }
    Unlock();
}

void SimFolder::Lock()
{
    const fs::path marker = dir_ / MarkerName;
    const std::string inUse = Quoted(dir_) + " is in use by another program (it holds " + Quoted(marker) +
                              " locked); try again when it has finished";
#ifdef _WIN32
    HANDLE h = CreateFileW(marker.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            throw FolderInUse("simulated notebook: " + inUse);
        Fail("cannot open " + Quoted(marker) + ": " + std::system_category().message(static_cast<int>(error)));
    }
    OVERLAPPED at{};
    at.Offset = LockOffset;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            throw FolderInUse("simulated notebook: " + inUse);
        Fail("cannot lock " + Quoted(marker) + ": " + std::system_category().message(static_cast<int>(error)));
    }
    lock_ = h;
#else
    // An open-file-description lock: it is not lost when this process
    // closes another descriptor of the file, two opens within one process
    // exclude each other, and it conflicts with the record locks Wine takes
    // for the DLL's LockFileEx.
    const int fd = ::open(marker.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        Fail("cannot open " + Quoted(marker) + ": " + Why());
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = LockOffset;
    range.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EAGAIN || error == EACCES)
            throw FolderInUse("simulated notebook: " + inUse);
        Fail("cannot lock " + Quoted(marker) + ": " + std::strerror(error));
    }
    lock_ = fd;
#endif
}

void SimFolder::Unlock()
{
    // Closing drops the lock; the file stays for the next user.
#ifdef _WIN32
    if (lock_)
        CloseHandle(static_cast<HANDLE>(lock_));
    lock_ = nullptr;
#else
    if (lock_ >= 0)
        ::close(lock_);
    lock_ = -1;
#endif
}

void SimFolder::ReadOrMakeMarker()
{
    const fs::path marker = dir_ / MarkerName;
    std::string text;
    {
        std::ifstream in(marker, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    if (text.empty() && readOnly_)
        return;   // being made by its first user just now
    if (text.empty()) {
        // Just made (or left empty by a crash before its first write).
        serial_ = NewSerial();
        text = std::string(MarkerTitle) + "\nserial = " + serial_ +
               "\n# Marks this folder as a simulated notebook. A program using the notebook keeps\n"
               "# this file locked; the file stays when it ends.\n";
        std::FILE* f = Open(marker, "r+b");
        const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        const bool closed = f && std::fclose(f) == 0;
        if (!ok || !closed)
            Fail("cannot write " + Quoted(marker) + ": " + Why());
        return;
    }
    if (text.compare(0, std::strlen(MarkerTitle), MarkerTitle) != 0)
        Fail(Quoted(marker) + " does not begin with \"" + MarkerTitle + "\": not a simulated notebook's marker");
    const size_t at = text.find("serial = ");
    if (at != std::string::npos) {
        const size_t from = at + 9;
        const size_t end = text.find_first_of("\r\n", from);
        serial_ = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
    }
}

// A process ended between writing a temporary file and renaming it leaves
// it behind; under the lock no one else can be writing one. Only a regular
// file is ours: anything else of that name is left for the write to refuse.
void SimFolder::RemoveLeftovers()
{
    for (const char* name : {"port1.bin", "port2.bin", "ecram.bin", "settings.txt"}) {
        const fs::path tmp = dir_ / (std::string(name) + ".tmp");
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(tmp, ec)) && !fs::remove(tmp, ec) && ec)
            Fail("cannot remove " + Quoted(tmp) + ": " + ec.message());
    }
}

void SimFolder::RefuseWriteIfReadOnly(const fs::path& path) const
{
    if (readOnly_)
        Fail("cannot write " + Quoted(path) + ": the folder is open for looking only");
}

void SimFolder::ReplaceWhole(const fs::path& path, const void* data, size_t size)
{
    RefuseWriteIfReadOnly(path);
    fs::path tmp = path;
    tmp += ".tmp";
    std::FILE* f = Open(tmp, "wb");
    if (!f)
        Fail("cannot create " + Quoted(tmp) + ": " + Why());
    const bool ok = std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0;
    const std::string why = ok ? std::string() : Why();
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!ok || !closed) {
        const std::string reason = ok ? Why() : why;
        fs::remove(tmp, ec);
        Fail("cannot write " + Quoted(tmp) + ": " + reason);
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(tmp, ec);
        Fail("cannot rename " + Quoted(tmp) + " to " + Quoted(path) + ": " + reason);
    }
}

std::vector<uint8_t> SimFolder::OpenBin(File file, size_t size, uint8_t fill)
{
    const fs::path path = dir_ / FileName(file);
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        if (readOnly_)
            Fail(Quoted(path) + " is missing");
        std::vector<uint8_t> blank(size, fill);
        ReplaceWhole(path, blank.data(), blank.size());
    }
    const auto actual = fs::file_size(path, ec);
    if (ec)
        Fail("cannot read " + Quoted(path) + ": " + ec.message());
    if (actual != size)
        Fail(Quoted(path) + " holds " + std::to_string(actual) + " bytes; it must hold exactly " +
             std::to_string(size));
    std::FILE* f = Open(path, readOnly_ ? "rb" : "r+b");
    if (!f)
        Fail("cannot open " + Quoted(path) + ": " + Why());
    std::vector<uint8_t> data(size);
    if (std::fread(data.data(), 1, size, f) != size) {
        const std::string why = Why();
        std::fclose(f);
        Fail("cannot read " + Quoted(path) + ": " + why);
    }
    if (files_[file])
        std::fclose(files_[file]);
    files_[file] = f;
    return data;
}

// In place and flushed at once, so the bytes are in the file as soon as this
// returns; no fsync: surviving a power cut is not the simulator's business.
void SimFolder::Write(File file, uint32_t offset, const uint8_t* data, size_t size)
{
    RefuseWriteIfReadOnly(dir_ / FileName(file));
    std::FILE* f = files_[file];
    if (!f || size == 0)
        return;
    if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, f) != size || std::fflush(f) != 0)
        Fail("cannot write " + Quoted(dir_ / FileName(file)) + ": " + Why());
}

std::string SimFolder::ReadSettings()
{
    const fs::path path = SettingsPath();
    std::error_code ec;
    if (!fs::exists(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read " + Quoted(path) + ": " + Why());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SimFolder::WriteSettings(const std::string& text)
{
    ReplaceWhole(SettingsPath(), text.data(), text.size());
}

void SimFolder::MakeSignalFile(const char* name)
{
    RefuseWriteIfReadOnly(dir_ / name);
    std::FILE* f = Open(dir_ / name, "wb");
    if (!f || std::fclose(f) != 0)
        Fail("cannot create " + Quoted(dir_ / name) + ": " + Why());
}

bool SimFolder::HasFile(const char* name) const
{
    std::error_code ec;
    return fs::exists(dir_ / name, ec);
}

} // namespace vyk::sim
