#pragma once

// The EC lock on Windows, the global mutex hw::EcLockMutexName, taken the
// same way by the window (for its whole run) and by vykuu (while it works).
namespace vyk::platform {

enum class EcLockTake { Taken, InUse, NotMade };

// Never waits. A mutex whose holder ended without letting go is taken.
// Taken: `mutex` is held until ReleaseEcLockMutex or the end of the process.
// NotMade: `error` is the Windows error (access denied: another user's
// program has it).
EcLockTake TakeEcLockMutex(void*& mutex, unsigned long& error);
void ReleaseEcLockMutex(void* mutex);

} // namespace vyk::platform
