#include "app/Win32PortLibrary.h"

#include <windows.h>

#include <cstdio>

#include "platform/windows/PortLibraryBinding.h"

namespace vyk::app {

namespace {

// The name as the A functions of Windows read it.
std::wstring Widened(const std::string& name)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

} // namespace

Win32PortLibrary::Win32PortLibrary() = default;
Win32PortLibrary::~Win32PortLibrary() = default;

bool Win32PortLibrary::FileExists(const std::string& name)
{
    DWORD attributes = GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<size_t> Win32PortLibrary::WriteNewFile(const std::string& name, std::span<const uint8_t> bytes)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return std::nullopt;
    size_t written = 0;
    if (std::fseek(f, 0, SEEK_SET) == 0 && !bytes.empty())
        written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    // Buffered bytes reach the disk only at the close: a failed close is a
    // failed write.
    if (std::fclose(f) != 0)
        written = 0;
    return written;
}

void Win32PortLibrary::RemoveFile(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(name.c_str());
}

void Win32PortLibrary::SetHidden(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

std::string Win32PortLibrary::FullPath(const std::string& name)
{
    DWORD n = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::string full(n, '\0');
    n = GetFullPathNameA(name.c_str(), n, full.data(), nullptr);
    full.resize(n);
    return full;
}

PortLibraryPlatform::Library Win32PortLibrary::LoadLibraryFullPath(const std::string& fullPath)
{
    unsigned long error = 0;
    return platform::LoadByFullPath(Widened(fullPath), error);
}

PortLibraryPlatform::Entry Win32PortLibrary::LookUp(Library library, const char* name)
{
    return platform::EntryPoint(library, name);
}

int32_t Win32PortLibrary::CallIsPortDriverOpen(Entry entry)
{
    return platform::CallWithoutArguments(entry);
}

PortIo* Win32PortLibrary::BindPortIo(Entry outPortByte, Entry inPortByte)
{
    bound_.push_back(std::make_unique<platform::EntryPortIo>(outPortByte, inPortByte));
    return bound_.back().get();
}

} // namespace vyk::app
