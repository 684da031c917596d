// EC RAM bytes and whole 256-byte blocks through EcRam, the mailbox and the
// simulated notebook, in memory and backed by a folder. The port operation
// counts show what each costs on real hardware, where every one is an I/O
// instruction through the port driver.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "hw/EcRam.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"

using namespace std::chrono_literals;
namespace pd = vyk::pd;
namespace fs = std::filesystem;
using vyk::sim::SimNotebook;

namespace {

// Counts the port operations on their way to the notebook.
struct CountingPort : vyk::IoPort {
    explicit CountingPort(vyk::IoPort& to) : next(to) {}
    void OutPortByte(uint16_t port, uint16_t data) override
    {
        ++ops;
        next.OutPortByte(port, data);
    }
    uint16_t InPortByte(uint16_t port) override
    {
        ++ops;
        return next.InPortByte(port);
    }
    vyk::IoPort& next;
    uint64_t ops = 0;
};

struct Stack {
    explicit Stack(bool folder)
    {
        if (folder) {
            dir = fs::temp_directory_path() / "vyk-ecram-bench";
            fs::remove_all(dir);
            sim = SimNotebook::OpenFolder(dir);
        } else {
            sim = std::make_unique<SimNotebook>();
        }
        port = std::make_unique<CountingPort>(*sim);
        ec.Bind(port.get());
    }
    ~Stack()
    {
        sim.reset();
        if (!dir.empty())
            fs::remove_all(dir);
    }
    void EnterFlashing()
    {
        for (uint8_t c : {pd::CmdInit, pd::CmdJumpBoot, pd::CmdEnterFlash}) {
            mb.WaitIdle(1s);
            mb.IssueCommand(c);
        }
        mb.WaitIdle(1s);
    }
    fs::path dir;
    std::unique_ptr<SimNotebook> sim;
    std::unique_ptr<CountingPort> port;
    vyk::EcRam ec;
    pd::Mailbox mb{ec};
};

void Report(benchmark::State& state, const Stack& st, const char* name)
{
    state.counters[name] = static_cast<double>(st.port->ops) / static_cast<double>(state.iterations());
}

void BM_EcRamWrite(benchmark::State& state)
{
    Stack st(state.range(0) != 0);
    for (auto _ : state)
        st.ec.EcRamWrite(pd::HostActive, 1);
    Report(state, st, "port_ops");
}

void BM_EcRamRead(benchmark::State& state)
{
    Stack st(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(st.ec.EcRamRead(pd::Port1Version));
    Report(state, st, "port_ops");
}

// Block write as the flash sequence does it: wait until idle, then the
// 259 writes; the next iteration's wait sees the command complete.
void BM_BlockWrite(benchmark::State& state)
{
    Stack st(state.range(0) != 0);
    st.EnterFlashing();
    std::vector<uint8_t> data(256, 0x5A);
    unsigned block = 0x00C0;
    st.port->ops = 0;
    for (auto _ : state) {
        if (!st.mb.WaitIdle(1s))
            state.SkipWithError("EC stayed busy");
        st.mb.WriteBlock(static_cast<uint16_t>(block), data.data());
        block = block == 0x01FE ? 0x00C0 : block + 1;
    }
    Report(state, st, "port_ops_per_block");
    state.SetBytesProcessed(state.iterations() * 256);
    if (!st.sim->Violations().empty())
        state.SkipWithError(st.sim->Violations().front().c_str());
}

// Block read: request, wait for completion, fetch the window.
void BM_BlockRead(benchmark::State& state)
{
    Stack st(state.range(0) != 0);
    st.EnterFlashing();
    std::vector<uint8_t> data(256);
    unsigned block = 0x00C0;
    st.port->ops = 0;
    for (auto _ : state) {
        st.mb.RequestBlockRead(static_cast<uint16_t>(block));
        if (!st.mb.WaitIdle(1s))
            state.SkipWithError("EC stayed busy");
        st.mb.FetchBlock(data.data());
        benchmark::DoNotOptimize(data.data());
        block = block == 0x01FE ? 0x00C0 : block + 1;
    }
    Report(state, st, "port_ops_per_block");
    state.SetBytesProcessed(state.iterations() * 256);
}

} // namespace

// Argument 0: in memory; 1: backed by a folder.
BENCHMARK(BM_EcRamWrite)->ArgName("folder")->Arg(0)->Arg(1);
BENCHMARK(BM_EcRamRead)->ArgName("folder")->Arg(0)->Arg(1);
BENCHMARK(BM_BlockWrite)->ArgName("folder")->Arg(0)->Arg(1);
BENCHMARK(BM_BlockRead)->ArgName("folder")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
