#pragma once
// What the two debuggers among the port tests share.
#include <windows.h>

namespace vyk::winetest {

// Closes the file handles a debug event hands to its debugger.
inline void CloseEventFiles(const DEBUG_EVENT& e)
{
    HANDLE file = e.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT ? e.u.CreateProcessInfo.hFile
                  : e.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT     ? e.u.LoadDll.hFile
                                                                   : nullptr;
    if (file)
        CloseHandle(file);
}

} // namespace vyk::winetest
