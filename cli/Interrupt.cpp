#include "cli/Interrupt.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vyk::cli {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> cause{0};   // the signal number, or the console event + 1000

// The temporary file, kept in a fixed buffer: a signal handler may not
// allocate. `temporaryValid` is cleared before the text changes.
char temporary[4096];
std::atomic<bool> temporaryValid{false};
char hardStop[1024];
std::atomic<size_t> hardStopLength{0};

constexpr const char FirstNote[] =
    "\nvykuu: interrupted: stopping after the block in flight, then resetting the PD; "
    "interrupt again to end at once (that may leave the PD in flashing mode)\n";

#ifdef _WIN32
void Say(const char* text, size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    int none = 0;
    cause.compare_exchange_strong(none, static_cast<int>(event) + 1000);
    if (stopRequested.exchange(true)) {
        // The second one: the default handler ends the process.
        if (temporaryValid.load())
            DeleteFileA(temporary);
        Say(hardStop, hardStopLength.load());
        return FALSE;
    }
    Say(FirstNote, sizeof FirstNote - 1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing, logoff, shutdown: the process ends when this returns. Hold it
    // while the main thread stops safely; it ends the process itself, and
    // Windows ends it anyway after its grace period of a few seconds.
    Sleep(20000);
    return TRUE;
}
#else
void OnSignal(int signal)
{
    int none = 0;
    cause.compare_exchange_strong(none, signal);
    if (stopRequested.exchange(true)) {
        if (temporaryValid.load())
            ::unlink(temporary);
        const ssize_t told = ::write(STDERR_FILENO, hardStop, hardStopLength.load());
        (void)told;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const ssize_t written = ::write(STDERR_FILENO, FirstNote, sizeof FirstNote - 1);
    (void)written;
}
#endif

} // namespace

void InstallInterruptHandlers()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

const std::atomic<bool>& StopRequest() { return stopRequested; }

std::string StopCause()
{
    switch (cause.load()) {
#ifdef _WIN32
    case CTRL_C_EVENT + 1000: return "Ctrl+C";
    case CTRL_BREAK_EVENT + 1000: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT + 1000: return "console closed";
    case CTRL_LOGOFF_EVENT + 1000: return "logoff";
    case CTRL_SHUTDOWN_EVENT + 1000: return "shutdown";
#else
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
#endif
    default: return stopRequested.load() ? "interrupt" : "";
    }
}

void RaiseStopRequest()
{
#ifdef _WIN32
    cause = CTRL_C_EVENT + 1000;
#else
    cause = SIGINT;
#endif
    stopRequested = true;
}

void ClearStopRequest()
{
    stopRequested = false;
    cause = 0;
}

void SetTemporaryFile(const std::string& path)
{
    temporaryValid = false;
    if (path.empty() || path.size() >= sizeof temporary)
        return;
    std::memcpy(temporary, path.c_str(), path.size() + 1);
    temporaryValid = true;
}

void SetHardStopText(const std::string& text)
{
    hardStopLength = 0;
    const size_t n = std::min(text.size(), sizeof hardStop);
    std::memcpy(hardStop, text.data(), n);
    hardStopLength = n;
}

} // namespace vyk::cli
