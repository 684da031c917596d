#include "platform/EcLock.h"

#include <system_error>

#include <windows.h>

#include "hw/EcLockNames.h"
#include "platform/windows/EcLockMutex.h"

namespace vyk::platform {

namespace {
std::string WindowsError(DWORD error) { return std::system_category().message(static_cast<int>(error)); }
} // namespace

std::string EcLock::Name() { return std::string("the mutex ") + hw::EcLockMutexText; }

std::unique_ptr<EcLock> EcLock::Take()
{
    // The window of this session is named as such; it holds the EC lock
    // too, as does a vykuu or a window of another session.
    if (HANDLE window = OpenMutexA(SYNCHRONIZE, FALSE, hw::WindowMutexName)) {
        CloseHandle(window);
        throw EcInUse(std::string("the EC is in use: the window VYK_UU.exe runs (its mutex ") + hw::WindowMutexName +
                      " exists); close it first; nothing was done");
    }
    void* global = nullptr;
    unsigned long error = 0;
    switch (TakeEcLockMutex(global, error)) {
    case EcLockTake::Taken:
        break;
    case EcLockTake::InUse:
        throw EcInUse("the EC is in use: another vykuu, or the window in another session, holds " + Name() +
                      "; nothing was done");
    case EcLockTake::NotMade:
        throw NoPortAccess("cannot make the EC lock (" + Name() + "): " + WindowsError(error) +
                           " (run as administrator)");
    }
    std::unique_ptr<EcLock> lock(new EcLock());
    lock->global_ = global;
    return lock;
}

EcLock::~EcLock()
{
    ReleaseEcLockMutex(global_);
}

} // namespace vyk::platform
