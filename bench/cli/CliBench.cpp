// How fast vykuu moves the default range (00C000..01FF00, 319 blocks) when
// nothing but the EC paces it: the simulator with zero latency (busy_reads 0).
// The window needs at least 10 Timer2 ticks of 100 ms for a flash and
// 8 + 2 x 319 Timer3 ticks of 10 ms for a read (15.6 ms each on stock
// Windows); those minimums are printed beside the figures.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "hw/EcRam.h"
#include "sim/SimNotebook.h"

namespace fs = std::filesystem;
using namespace vyk::cli;

namespace {

constexpr double WindowFlashSeconds = 10 * 0.100;            // states 1..10, one tick each
constexpr double WindowReadSeconds = (8 + 2 * 319) * 0.010;  // 6.46 s
constexpr int DefaultBlocks = 319;

// Counts what reaches the ports.
class CountingPorts final : public vyk::IoPort {
public:
    explicit CountingPorts(vyk::IoPort& inner) : inner_(inner) {}
    void OutPortByte(uint16_t port, uint16_t data) override { ++ops; inner_.OutPortByte(port, data); }
    uint16_t InPortByte(uint16_t port) override { ++ops; return inner_.InPortByte(port); }
    uint64_t ops = 0;

private:
    vyk::IoPort& inner_;
};

vyk::sim::Settings ZeroLatency()
{
    vyk::sim::Settings s;
    s.busyReads = 0;
    s.busyMicros = 0;
    return s;
}

fs::path WorkDir()
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("vykuu-bench-" + std::to_string(::getpid()));
        fs::create_directories(d);
        std::vector<char> image(0x20000);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 7 + (i >> 8));
        std::ofstream(d / "image.bin", std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
        return d;
    }();
    return dir;
}

void Report(benchmark::State& state, uint64_t ops, double windowSeconds, int blocks)
{
    state.counters["port_ops/s"] = benchmark::Counter(static_cast<double>(ops), benchmark::Counter::kIsRate);
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(blocks) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["window_min_s"] = windowSeconds;
}

void BM_ToolReadDefaultRange(benchmark::State& state)
{
    vyk::sim::SimNotebook sim(ZeroLatency());
    CountingPorts ports(sim);
    CommonOptions common;
    common.backend.openPorts = &ports;
    ReadOptions options;
    options.outputPath = (WorkDir() / "read.bin").string();
    Console console({true, false, false});
    for (auto _ : state) {
        JsonSummary summary;
        if (RunRead(common, options, console, summary) != ExitOk)
            state.SkipWithError("read failed");
    }
    Report(state, ports.ops, WindowReadSeconds, DefaultBlocks);
}
BENCHMARK(BM_ToolReadDefaultRange)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToolFlashAndVerifyDefaultRange(benchmark::State& state)
{
    vyk::sim::SimNotebook sim(ZeroLatency());
    CountingPorts ports(sim);
    CommonOptions common;
    common.backend.openPorts = &ports;
    FlashOptions options;
    options.imagePath = (WorkDir() / "image.bin").string();
    Console console({true, false, false});
    for (auto _ : state) {
        JsonSummary summary;
        if (RunFlash(common, options, console, summary) != ExitOk)
            state.SkipWithError("flash failed");
    }
    Report(state, ports.ops, WindowFlashSeconds + WindowReadSeconds, 2 * DefaultBlocks);
}
BENCHMARK(BM_ToolFlashAndVerifyDefaultRange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole program as a script starts it, on a folder-backed simulator.
void RunProcess(benchmark::State& state, const std::string& args, double windowSeconds, int blocks)
{
    const fs::path sim = WorkDir() / "nb";
    fs::create_directories(sim);
    {
        auto notebook = vyk::sim::SimNotebook::OpenFolder(sim);
        notebook->GetSettings() = ZeroLatency();
        notebook->SaveSettings();
    }
    const std::string cmd = std::string(VYKUU_PATH) + " --quiet --sim " + sim.string() + " " + args + " >/dev/null";
    for (auto _ : state) {
        const int status = std::system(cmd.c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("vykuu failed");
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(blocks) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["window_min_s"] = windowSeconds;
}

void BM_ProcessReadDefaultRange(benchmark::State& state)
{
    RunProcess(state, "read --port 1 -o " + (WorkDir() / "proc-read.bin").string(), WindowReadSeconds,
               DefaultBlocks);
}
BENCHMARK(BM_ProcessReadDefaultRange)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProcessFlashAndVerifyDefaultRange(benchmark::State& state)
{
    RunProcess(state, "flash --port 1 " + (WorkDir() / "image.bin").string(), WindowFlashSeconds + WindowReadSeconds,
               2 * DefaultBlocks);
}
BENCHMARK(BM_ProcessFlashAndVerifyDefaultRange)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor under all of it: single EC RAM reads, 12 port operations each.
void BM_SimEcRamRead(benchmark::State& state)
{
    vyk::sim::SimNotebook sim(ZeroLatency());
    CountingPorts ports(sim);
    vyk::EcRam ec(&ports);
    unsigned address = 0xCC00;
    for (auto _ : state)
        benchmark::DoNotOptimize(ec.EcRamRead(address++ & 0xCCFF));
    state.counters["port_ops/s"] = benchmark::Counter(static_cast<double>(ports.ops), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SimEcRamRead)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(WorkDir(), ec);
    return 0;
}
