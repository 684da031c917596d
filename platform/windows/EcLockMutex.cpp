#include "platform/windows/EcLockMutex.h"

#include <windows.h>

#include "hw/EcLockNames.h"

namespace vyk::platform {

EcLockTake TakeEcLockMutex(void*& mutex, unsigned long& error)
{
    HANDLE lock = CreateMutexW(nullptr, FALSE, hw::EcLockMutexName);
    if (!lock) {
        error = GetLastError();
        return EcLockTake::NotMade;
    }
    const DWORD wait = WaitForSingleObject(lock, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(lock);
        return EcLockTake::InUse;
    }
    mutex = lock;
    return EcLockTake::Taken;
}

void ReleaseEcLockMutex(void* mutex)
{
    if (!mutex)
        return;
    ReleaseMutex(static_cast<HANDLE>(mutex));
    CloseHandle(static_cast<HANDLE>(mutex));
}

} // namespace vyk::platform
