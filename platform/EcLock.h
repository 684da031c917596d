#pragma once
#include <memory>
#include <string>

#include "platform/Failure.h"

namespace vyk::platform {

// The right to drive the EC through the real ports, one holder on the whole
// machine for as long as the object lives: on Linux a lock on a file in the
// run-time lock folder (the file stays), on Windows a mutex in the global
// namespace, which the window holds for its whole run; the tool also
// refuses while the window's single-instance mutex exists.
class EcLock {
public:
    // Throws EcInUse when it is held; NoPortAccess when it cannot be made.
    static std::unique_ptr<EcLock> Take();
#ifndef _WIN32
    // The same lock on the file at `path`: what tests take, never the
    // machine's own.
    static std::unique_ptr<EcLock> TakeFile(const std::string& path);
#endif
    ~EcLock();
    EcLock(const EcLock&) = delete;
    EcLock& operator=(const EcLock&) = delete;

    // Where the lock lives, for messages.
    static std::string Name();

private:
    EcLock() = default;
#ifdef _WIN32
    void* global_ = nullptr;   // HANDLE
#else
    int fd_ = -1;
#endif
};

} // namespace vyk::platform
