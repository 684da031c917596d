// The words a process ended at once by a second stop leaves behind: the
// advice for the PD on standard error, and the --json record as it stood,
// closed with what ended it. Set by the main thread while it runs, read by
// the handler, which may not allocate or take a lock.
#include "platform/HardStop.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/StopSignals.h"

namespace vyk::platform {

namespace {

// The advice a second stop prints; a handler may not allocate.
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

} // namespace

// The advice, then the record with what ended it.
void WriteHardStop(const char* cause, uint32_t exitCode)
{
    WriteAtOnce(2, hardStop, hardStopLength.load());
    BuildHardStopRecord(cause, exitCode);
    WriteAtOnce(1, hardStopRecord.Text(), hardStopRecord.Length());
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

} // namespace vyk::platform
