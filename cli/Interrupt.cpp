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

// The record, in two buffers: the main thread fills the one not in use and
// then makes it the one in use, so a handler never reads one half written.
char record[2][16384];
size_t recordLength[2] = {0, 0};
std::atomic<int> recordInUse{-1};
char pdState[512];   // a JSON string, quotes included
std::atomic<size_t> pdStateLength{0};
std::atomic<bool> countsBlocks{false};
std::atomic<uint32_t> blocksWritten{0};

// The record's last words, built without allocating: a handler may not.
class HardStopRecord {
public:
    void Add(const char* text, size_t length)
    {
        for (size_t i = 0; i < length && n_ < sizeof text_; ++i)
            text_[n_++] = text[i];
    }
    void Add(const char* text) { Add(text, std::strlen(text)); }
    void AddNumber(uint64_t value)
    {
        char digits[24];
        size_t k = 0;
        do {
            digits[k++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (k > 0)
            Add(&digits[--k], 1);
    }
    const char* Text() const { return text_; }
    size_t Length() const { return n_; }

private:
    char text_[sizeof record[0] + 1024];
    size_t n_ = 0;
};
HardStopRecord hardStopRecord;

// Whether the record holds `key` already (a first stop told just before).
bool RecordHas(const char* text, size_t length, const char* key)
{
    const size_t n = std::strlen(key);
    for (size_t i = 0; i + n <= length; ++i)
        if (std::memcmp(text + i, key, n) == 0)
            return true;
    return false;
}

// The record so far, and what ended it; nothing without a record.
void BuildHardStopRecord(const char* signalName, uint64_t exitCode)
{
    const int index = recordInUse.load();
    if (index < 0 || recordLength[index] < 2)
        return;
    HardStopRecord& r = hardStopRecord;
    r.Add(record[index], recordLength[index] - 1);   // without its closing brace
    if (!RecordHas(record[index], recordLength[index], "\"interrupted\": ")) {
        r.Add(", \"interrupted\": true, \"signal\": \"");
        r.Add(signalName);
        r.Add("\"");
    }
    r.Add(", \"endedAtOnce\": true");
    if (countsBlocks.load() && !RecordHas(record[index], recordLength[index], "\"blocksWritten\": ")) {
        r.Add(", \"blocksWritten\": ");
        r.AddNumber(blocksWritten.load());
    }
    r.Add(", \"pdState\": ");
    if (const size_t n = pdStateLength.load()) {
        r.Add(pdState, n);
        r.Add(", \"pdMayBeInBootLoader\": true");
    } else {
        r.Add("\"no sequence was running: not in flashing mode by this run\"");
    }
    r.Add(", \"ok\": false, \"exitCode\": ");
    r.AddNumber(exitCode);
    r.Add("}\n");
}

constexpr const char FirstNote[] =
    "\nvykuu: interrupted: stopping after the block in flight, then resetting the PD; "
    "interrupt again to end at once (that may leave the PD in flashing mode)\n";

#ifdef _WIN32
void Say(const char* text, size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

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
        Say(hardStop, hardStopLength.load());
        // What the default handler would end the process with; ended here,
        // so that the record tells the code the caller sees.
        constexpr UINT controlCExit = 0xC000013A;   // STATUS_CONTROL_C_EXIT
        BuildHardStopRecord(EventName(event), controlCExit);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), hardStopRecord.Text(), static_cast<DWORD>(hardStopRecord.Length()),
                  &written, nullptr);
        ExitProcess(controlCExit);
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
        // A shell sees 128 + the signal once it is raised again below.
        BuildHardStopRecord(signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP"
                                                                                                        : "signal",
                            128u + static_cast<unsigned>(signal));
        const ssize_t printed = ::write(STDOUT_FILENO, hardStopRecord.Text(), hardStopRecord.Length());
        (void)printed;
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

void SetHardStopRecord(const std::string& text)
{
    if (text.empty()) {
        recordInUse = -1;
        return;
    }
    if (text.size() > sizeof record[0])
        return;   // the last one that fitted stays
    const int next = recordInUse.load() == 0 ? 1 : 0;
    std::memcpy(record[next], text.data(), text.size());
    recordLength[next] = text.size();
    recordInUse = next;
}

void SetHardStopPdState(const std::string& state, bool counts)
{
    pdStateLength = 0;
    countsBlocks = counts;
    blocksWritten = 0;
    if (state.empty() || state.size() > sizeof pdState)
        return;
    std::memcpy(pdState, state.data(), state.size());
    pdStateLength = state.size();
}

void SetHardStopBlocks(uint32_t blocks) { blocksWritten = blocks; }

} // namespace vyk::cli
