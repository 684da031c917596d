#include "platform/StopSignals.h"

#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vyk::platform {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> cause{0};   // the signal number, or the console event + 1000
StopWords stopWords;

// The temporary file, kept in a fixed buffer: a signal handler may not
// allocate. `temporaryValid` is cleared before the text changes.
char temporary[4096];
std::atomic<bool> temporaryValid{false};

void SayFirst()
{
    if (stopWords.first)
        stopWords.first();
}

void SayLast(const char* what, uint32_t exitCode)
{
    if (stopWords.last)
        stopWords.last(what, exitCode);
}

#ifdef _WIN32
const char* EventName(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "console closed";
    case CTRL_LOGOFF_EVENT: return "logoff";
    case CTRL_SHUTDOWN_EVENT: return "shutdown";
    default: return "interrupt";
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    int none = 0;
    cause.compare_exchange_strong(none, static_cast<int>(event) + 1000);
    if (stopRequested.exchange(true)) {
        // The second one ends the process at once.
        if (temporaryValid.load())
            DeleteFileA(temporary);
        // What the default handler would end the process with; ended here,
        // so that the last words tell the code the caller sees.
        constexpr UINT controlCExit = 0xC000013A;   // STATUS_CONTROL_C_EXIT
        SayLast(EventName(event), controlCExit);
        ExitProcess(controlCExit);
    }
    SayFirst();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing, logoff, shutdown: the process ends when this returns. Hold it
    // while the main thread stops safely; it ends the process itself, and
    // Windows ends it anyway after its grace period of a few seconds.
    Sleep(20000);
    return TRUE;
}
#else
const char* SignalName(int signal)
{
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "signal";
}

void OnSignal(int signal)
{
    int none = 0;
    cause.compare_exchange_strong(none, signal);
    if (stopRequested.exchange(true)) {
        if (temporaryValid.load())
            ::unlink(temporary);
        // A shell sees 128 + the signal once it is raised again below.
        SayLast(SignalName(signal), 128u + static_cast<unsigned>(signal));
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    SayFirst();
}
#endif

} // namespace

void InstallStopHandlers(StopWords words)
{
    stopWords = words;
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

void WriteAtOnce(int stream, const char* text, size_t length)
{
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), text, static_cast<DWORD>(length),
              &written, nullptr);
#else
    const ssize_t written = ::write(stream == 1 ? STDOUT_FILENO : STDERR_FILENO, text, length);
    (void)written;
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

} // namespace vyk::platform
