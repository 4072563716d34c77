// Benchmark of a station run: tarnik-cli programming 24 units at once on 24
// tarnik-sim --wire emulators (type 1 expander, 256 records of 256 data bytes, 38400 baud),
// against the same program with one unit alone, both with the production database on
// (--db=sqlite: in the temporary folder: numbers taken and a row written per unit). Prints the
// run's time with 24 units divided by the time of one unit alone (the units must not slow each
// other: at most 1.10 is the aim), and tarnik-cli's CPU time per unit as a share of one core
// (under 1 %). It measures and prints; it asserts nothing.
//   station_bench [TARNIK-SIM [TARNIK-CLI [OPTION...]]]: every OPTION is given to each
//   tarnik-cli run as well (--http=127.0.0.1:0: the same with the station page served).
#include "bench_image.h"
#include "support/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace tarnik;

using bench::kDataBytes;
using bench::kRecords;
constexpr int kUnits = 24;

using Emulators = std::vector<std::unique_ptr<testing::SimProcess>>;

struct RunMeasure {
    double seconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
    int emulatorsAccepting = 0;
};

// One tarnik-cli run on the given emulators: its wall time, its CPU time (user and
// system, threads included) and exit code; its output goes to outPath.
RunMeasure RunCli(const std::string& cliPath, const std::string& imagePath,
                  const Emulators& emulators, const std::string& outPath, const std::string& db,
                  const std::vector<std::string>& extra) {
    std::vector<std::string> args{
        cliPath, "--address=01", "--db=" + db, "--serial-start=00000001", "P=" + imagePath, "V=1"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const auto& e : emulators)
        args.push_back("--port=" + e->Pty());
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(cliPath.c_str(), argv.data());
        _exit(127);
    }
    RunMeasure m;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    m.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const auto& e : emulators)
        if (e->Wait(std::chrono::seconds(60)) == 0) ++m.emulatorsAccepting;
    return m;
}

RunMeasure Measure(const std::string& simPath, const std::string& cliPath,
                   const std::string& imagePath, int units, const std::string& outPath,
                   const std::string& db, const std::vector<std::string>& extra) {
    Emulators emulators;
    for (int i = 0; i < units; ++i) {
        emulators.push_back(
            std::make_unique<testing::SimProcess>(bench::EmulatorArgs(imagePath), simPath));
        if (emulators.back()->Pty().empty()) throw std::runtime_error("tarnik-sim did not start");
    }
    return RunCli(cliPath, imagePath, emulators, outPath, db, extra);
}

void Print(const char* label, const RunMeasure& m, int units) {
    std::printf("%-14s %7.2f s, exit code %d, %d of %d emulators accepted the traffic, "
                "CPU %.2f s (%.2f %% of one core per unit)\n",
                label, m.seconds, m.exitCode, m.emulatorsAccepting, units, m.cpuSeconds,
                m.seconds > 0 ? m.cpuSeconds * 100.0 / m.seconds / units : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const std::string simPath = argc > 1 ? argv[1] : TARNIK_SIM_PATH;
    const std::string cliPath = argc > 2 ? argv[2] : TARNIK_CLI_PATH;
    const std::vector<std::string> extra(argv + std::min(argc, 3), argv + argc);
    try {
        char folderTemplate[] = "/tmp/tarnik-station-bench-XXXXXX";
        if (!mkdtemp(folderTemplate)) throw std::runtime_error("cannot make a temporary folder");
        const std::filesystem::path folder = folderTemplate;
        // The settings store of the runs lives in the temporary folder, not the user's.
        setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
        const std::string db = "sqlite:" + (folder / "station.db").string();
        const std::string imagePath = (folder / "station-bench.bin").string();
        bench::WriteBenchImage(imagePath);

        std::printf("type 1 expander, %d records of %zu bytes, 38400 baud, verification on, "
                    "tarnik-sim --wire, --db=sqlite:\n",
                    kRecords, kDataBytes);
        std::fflush(stdout);
        const RunMeasure one =
            Measure(simPath, cliPath, imagePath, 1, (folder / "one.out").string(), db, extra);
        Print("one unit", one, 1);
        std::fflush(stdout);
        const RunMeasure all =
            Measure(simPath, cliPath, imagePath, kUnits, (folder / "all.out").string(), db, extra);
        Print("24 units", all, kUnits);
        std::printf("time ratio (24 at once / one alone): %.3f (aim: at most 1.10)\n",
                    one.seconds > 0 ? all.seconds / one.seconds : 0.0);
        std::printf("CPU per unit, 24 at once: %.2f %% of one core (aim: under 1 %%)\n",
                    all.seconds > 0 ? all.cpuSeconds * 100.0 / all.seconds / kUnits : 0.0);
        std::filesystem::remove_all(folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "station_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
