#pragma once
#include <memory>
#include <stdexcept>
#include <string>

namespace vyk::cli {

// Another program drives the EC (or holds the simulator folder); nothing
// was touched. The message names the holder's lock.
class EcInUse : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The right to drive the EC through the real ports, one holder on the whole
// machine for as long as the object lives: on Linux a lock on a file in the
// run-time lock folder (the file stays), on Windows a mutex in the global
// namespace. On Windows the window's single-instance mutex is taken too:
// while the window runs the tool refuses, and while the tool runs the
// window does not start.
class EcLock {
public:
    // Throws EcInUse when it is held; NoPortAccess when it cannot be made.
    static std::unique_ptr<EcLock> Take();
    ~EcLock();
    EcLock(const EcLock&) = delete;
    EcLock& operator=(const EcLock&) = delete;

    // Where the lock lives, for messages.
    static std::string Name();

private:
    EcLock() = default;
#ifdef _WIN32
    void* global_ = nullptr;   // HANDLEs
    void* window_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace vyk::cli
