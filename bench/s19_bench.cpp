// Benchmark of a whole main-family process over a real pseudo-terminal: an expander image of
// 256 records of 256 data bytes, programmed and verified on tarnik-sim with wire timing at
// 38400 baud, once at the standard pacing and once at fast pacing. Prints for each, for
// programming and verification, the time taken divided by the time the exchanged bytes need
// on the wire, and the process's CPU time; then the peak memory.
// It measures and prints; it asserts nothing.
#include "bench_image.h"
#include "programmers/process_view.h"
#include "programmers/s19_programmer.h"
#include "serial/tcomm64.h"
#include "serial/tfustaw.h"
#include "sim/quiet_view.h"
#include "support/child_process.h"
#include "tools/clock.h"
#include "tools/plain_message_pump.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarnik;

using bench::kDataBytes;
using bench::kRecords;
using bench::kUnitType;
constexpr int kBaud = 38400;
constexpr double kBitsPerByte = 10.0;

// What happened in one step: when it began, and the bytes sent and received in it.
struct StepTally {
    Text status;
    std::uint32_t startMs = 0;
    std::uint32_t endMs = 0;
    std::size_t txBytes = 0;
    std::size_t rxBytes = 0;
};

// Counts the traced bytes per step; everything else of the window is a no-op.
class TallyView final : public sim::QuietProcessView {
public:
    TallyView(MessagePump& pump, Clock& clock) : QuietProcessView(pump), clock_(clock) {
        unitType = kUnitType;
        bootAddress = 1;
    }

    void LogLine(const Text& line) override {
        if (steps_.empty()) return;
        if (line.rfind("TX: ", 0) == 0) steps_.back().txBytes += (line.size() - 4) / 3;
        if (line.rfind("RX:", 0) == 0) steps_.back().rxBytes += (line.size() - 3) / 3;
    }
    void SetInfoTx(const Text& caption) override {
        const std::uint32_t now = clock_.TickMs();
        if (!steps_.empty()) steps_.back().endMs = now;
        steps_.push_back({caption, now, now, 0, 0});
    }

    void Close() {
        if (!steps_.empty()) steps_.back().endMs = clock_.TickMs();
    }
    const StepTally* Find(const Text& status) const {
        for (const StepTally& s : steps_)
            if (s.status == status) return &s;
        return nullptr;
    }
    Text LastStatus() const { return steps_.empty() ? Text{} : steps_.back().status; }

private:
    Clock& clock_;
    std::vector<StepTally> steps_;
};

std::string WriteBenchImage() {
    char path[] = "/tmp/tarnik-bench-XXXXXX.bin";
    const int fd = mkstemps(path, 4);
    if (fd < 0) throw std::runtime_error("cannot create a temporary image file");
    close(fd);
    bench::WriteBenchImage(path);
    return path;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakMemoryKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void PrintRatio(const TallyView& view, const Text& status, const char* label) {
    const StepTally* step = view.Find(status);
    if (step == nullptr) {
        std::printf("  %-12s not reached\n", label);
        return;
    }
    const double measuredMs = step->endMs - step->startMs;
    const double wireMs = (step->txBytes + step->rxBytes) * kBitsPerByte * 1000.0 / kBaud;
    std::printf("  %-12s %8.0f ms measured, %8.0f ms on the wire (%zu bytes out, %zu in): "
                "ratio %.3f\n",
                label, measuredMs, wireMs, step->txBytes, step->rxBytes,
                wireMs > 0 ? measuredMs / wireMs : 0.0);
}

// One process against a fresh emulator at the given pacing; prints its figures.
void RunOnce(const std::string& simPath, const std::string& imagePath, const Pacing& pacing) {
    PlainMessagePump pump;
    SteadyClock clock;
    TComm64 comm(pump);
    TallyView view(pump, clock);
    TFUstaw link(comm, pump, clock, view);

    RecordList records;
    const ImageLoadResult loaded = LoadImageRecords(imagePath, Text(), records, view);
    if (!loaded.ok()) throw std::runtime_error("image: " + loaded.message);

    testing::SimProcess emulator(bench::EmulatorArgs(imagePath), simPath);
    if (emulator.Pty().empty()) throw std::runtime_error("tarnik-sim did not start");
    comm.SetDeviceName(emulator.Pty());
    comm.SetBaudRate(cbr38400);
    comm.SetParity(paNone);
    comm.SetStopbits(sb1_0);
    if (!comm.Open()) throw std::runtime_error("cannot open " + emulator.Pty());

    KeyGenerator keys(static_cast<std::uint32_t>(std::time(nullptr)));
    int exitStatus = -1;
    ProcessContext context{view, link, clock, records, keys, exitStatus, *loaded.header, pacing};
    TS19_WR programmer(context, 1);

    const double cpuBefore = CpuSeconds();
    const std::uint32_t startMs = clock.TickMs();
    programmer.StartProcess(kUnitType);
    const std::uint32_t elapsedMs = clock.TickMs() - startMs;
    const double cpu = CpuSeconds() - cpuBefore;
    view.Close();
    comm.Close();

    const int simCode = emulator.Wait(std::chrono::seconds(60));

    if (pacing.fast)
        std::printf("fast pacing (turnaround guard %u ms)\n", pacing.turnaroundMs);
    else
        std::printf("standard pacing\n");
    std::printf("  exit status %d, last status \"%s\", emulator %s\n", exitStatus,
                view.LastStatus().c_str(),
                simCode == 0 ? "accepted the traffic" : "reported faults");
    PrintRatio(view, "Process status: Programming ...", "programming");
    PrintRatio(view, "Process status: Verification", "verification");
    std::printf("  process      %u ms, CPU %.2f s (%.1f %% of one core)\n", elapsedMs, cpu,
                elapsedMs > 0 ? cpu * 100000.0 / elapsedMs : 0.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::string simPath = argc > 1 ? argv[1] : TARNIK_SIM_PATH;
    try {
        const std::string imagePath = WriteBenchImage();
        std::printf("type 1 expander, %d records of %zu bytes, %d baud, tarnik-sim --wire\n",
                    kRecords, kDataBytes, kBaud);
        RunOnce(simPath, imagePath, Pacing{});
        RunOnce(simPath, imagePath, Pacing{true, kDefaultTurnaroundMs});
        // Without the guard: what is left is the emulated unit's own answer delay and the
        // rounding of its wire timing to whole milliseconds.
        RunOnce(simPath, imagePath, Pacing{true, 0});
        std::remove(imagePath.c_str());
        std::printf("peak memory %.1f MB\n", PeakMemoryKb() / 1024.0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "s19_bench: %s\n", e.what());
        return 1;
    }
}
