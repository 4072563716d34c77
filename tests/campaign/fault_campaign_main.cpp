// fault_campaign: runs tarnik-cli against tarnik-sim over pseudo-terminals many times, one
// drawn fault per run, checks every run's invariants and ends with a table. Exit status 1 on
// any invariant violation, 2 on bad arguments.
//   fault_campaign --sim PATH --cli PATH [--runs N] [--seed S] [--only INDEX] [--keep DIR]
//                  [--keep-all] [--jobs N]
// The files of a run with a violation (image, emulator report, output) are kept under DIR.
#include "campaign.h"

#include "image/image_file.h"
#include "support/child_process.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

using namespace tarnik;
using namespace tarnik::campaign;
using tarnik::testing::ChildProcess;

struct Options {
    std::string sim;
    std::string cli;
    int runs = 100;
    std::uint64_t seed = 0;
    std::optional<int> only;
    std::string keep = "campaign-failures";
    int jobs = 1;         // runs side by side
    bool keepAll = false; // keep the files of every run, not only of failed ones
};

constexpr std::uint32_t kIdleTimeoutMs = 15000;
constexpr std::uint32_t kShortIdleTimeoutMs = 3000;
constexpr std::uint32_t kHangupGraceMs = 1000;

std::string Hex2(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

// The longest a correct process can take: every step to its time-out.
std::uint32_t HardLimitMs(const Family& family, const RunPlan& plan) {
    std::uint32_t limit = 10000;
    for (const auto& [step, timeout] : family.stepTimeoutMs) {
        const bool perRecord =
            std::count(family.perRecordSteps.begin(), family.perRecordSteps.end(), step) > 0;
        limit +=
            timeout * static_cast<std::uint32_t>(perRecord ? plan.recordSizes.size() : 1) + 1000;
    }
    return limit;
}

// Writes the image of the plan; the loader's copy is damaged when the plan says so.
void WriteImages(const RunPlan& plan, const std::filesystem::path& good,
                 const std::filesystem::path& given) {
    std::vector<tarnik::testing::TestRecord> records;
    for (std::size_t i = 0; i < plan.recordSizes.size(); ++i)
        records.push_back(
            {static_cast<std::uint16_t>(0x4000 + 0x40 * i),
             tarnik::testing::PatternData(plan.recordSizes[i], static_cast<std::uint8_t>(i * 31))});
    const Text image = tarnik::testing::BuildTestImage(plan.unitType, records);
    tarnik::testing::WriteFile(good, image);
    if (!plan.damageImage) {
        tarnik::testing::WriteFile(given, image);
        return;
    }
    // A changed byte inside the last record; changed again in the rare case the record's
    // checksum still holds.
    Text damaged = image;
    DiscardLog log;
    for (std::size_t back = 3; back < damaged.size() - kRecordsOffset; ++back) {
        damaged[damaged.size() - back] = static_cast<char>(damaged[damaged.size() - back] ^ 0x5A);
        tarnik::testing::WriteFile(given, damaged);
        RecordList list;
        if (!LoadImageRecords(given.string(), Text(), list, log).ok()) return;
    }
}

struct Run {
    RunPlan plan;
    RunOutcome outcome;
    Judgement judgement;
    std::vector<std::string> simArgs;
    std::vector<std::string> cliArgs;
};

Run Execute(const Options& options, const Family& family, const RunPlan& plan, int index,
            const std::filesystem::path& dir) {
    Run run{plan, {}, {}, {}, {}};
    const auto good = dir / "image.bin";
    const auto given = dir / "given.bin";
    WriteImages(plan, good, given);

    std::vector<std::string>& s = run.simArgs;
    s = {"--type", std::to_string(plan.unitType), "--image", good.string(), "--report",
         (dir / "report.json").string(), "--idle-timeout-ms",
         // The loader never speaks to the unit when its image is damaged.
         std::to_string(plan.damageImage ? kShortIdleTimeoutMs : kIdleTimeoutMs),
         "--hangup-grace-ms", std::to_string(kHangupGraceMs), "--seed",
         std::to_string(options.seed + static_cast<std::uint64_t>(index))};
    if (plan.address) s.insert(s.end(), {"--address", Hex2(*plan.address)});
    if (plan.wire) s.push_back("--wire");
    s.insert(s.end(), plan.simArgs.begin(), plan.simArgs.end());

    ChildProcess sim(options.sim, s, (dir / "sim.err").string());
    const std::string pty = tarnik::testing::StartEmulator(sim);
    if (pty.empty()) {
        run.judgement.violations.push_back("the emulator did not start");
        return run;
    }

    std::vector<std::string>& c = run.cliArgs;
    c = {"--port=" + pty, "--trace"};
    if (plan.address && !plan.addressSetting) c.push_back("--address=" + Hex2(*plan.address));
    c.insert(c.end(), plan.cliArgs.begin(), plan.cliArgs.end());
    c.insert(c.end(), {"P=" + given.string(), plan.verify ? "V=1" : "V=0"});
    // Each run has settings of its own, so runs side by side never share a stored address;
    // an address the loader only reads from them is written there.
    const auto config = dir / "config";
    std::string settings = "[General]\n";
    if (plan.address && plan.addressSetting)
        settings += *plan.addressSetting + "=" + Hex2(*plan.address) + "\n";
    std::filesystem::create_directories(config / "Olvane");
    tarnik::testing::WriteFile(config / "Olvane" / "Tarnik.conf", settings);

    const std::uint32_t limit = HardLimitMs(family, plan);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    };
    RunOutcome& out = run.outcome;
    {
        ChildProcess cli(options.cli, c, (dir / "cli.err").string(),
                         {{"XDG_CONFIG_HOME", config.string()}});
        while (elapsed() < limit) {
            const auto line = cli.ReadLine(static_cast<int>(limit - elapsed()));
            if (!line) break;
            out.lines.push_back({elapsed(), *line});
        }
        const std::uint32_t now = elapsed();
        const auto code = cli.Wait(static_cast<int>(now < limit ? limit - now : 0) + 50);
        out.durationMs = elapsed();
        out.ended = code.has_value();
        out.exitCode = code.value_or(-1);
    }
    for (auto it = out.lines.rbegin(); it != out.lines.rend(); ++it) {
        if (it->text.rfind("Exit status: ", 0) == 0) {
            out.exitStatus = std::strtol(it->text.c_str() + 13, nullptr, 10);
            break;
        }
    }
    sim.Wait(static_cast<int>(kIdleTimeoutMs + kHangupGraceMs + 5000));
    out.errorText = tarnik::testing::ReadFile(dir / "cli.err");
    if (std::filesystem::exists(dir / "report.json"))
        out.reportJson = tarnik::testing::ReadFile(dir / "report.json");
    run.judgement = Judge(family, plan, out);
    return run;
}

void KeepRun(const Options& options, const Run& run, int index, const std::filesystem::path& dir) {
    const std::filesystem::path target =
        std::filesystem::path(options.keep) / ("run-" + std::to_string(index));
    std::error_code ec;
    std::filesystem::create_directories(target, ec);
    std::filesystem::copy(dir, target,
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing,
                          ec);
    std::string output;
    for (const OutputLine& line : run.outcome.lines)
        output += std::to_string(line.atMs) + " " + line.text + "\n";
    tarnik::testing::WriteFile(target / "cli.out", output);
}

struct Tally {
    int runs = 0;
    int successes = 0;
    int cleanFailures = 0;
    int violations = 0;
    std::uint32_t longestMs = 0;
};

void PrintRow(const std::string& name, const Tally& t) {
    std::printf("%-28s %6d %9d %13d %11d %10.1f\n", name.c_str(), t.runs, t.successes,
                t.cleanFailures, t.violations, t.longestMs / 1000.0);
}

bool ParseArguments(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--sim" && hasValue)
            o.sim = argv[++i];
        else if (arg == "--cli" && hasValue)
            o.cli = argv[++i];
        else if (arg == "--runs" && hasValue)
            o.runs = std::atoi(argv[++i]);
        else if (arg == "--seed" && hasValue)
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--only" && hasValue)
            o.only = std::atoi(argv[++i]);
        else if (arg == "--keep" && hasValue)
            o.keep = argv[++i];
        else if (arg == "--jobs" && hasValue)
            o.jobs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--keep-all")
            o.keepAll = true;
        else
            return false;
    }
    return !o.sim.empty() && !o.cli.empty() && o.runs > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    options.seed = static_cast<std::uint64_t>(
        std::chrono::system_clock::now().time_since_epoch().count() % 1000000000);
    if (!ParseArguments(argc, argv, options)) {
        std::cerr << "usage: fault_campaign --sim PATH --cli PATH [--runs N] [--seed S] "
                     "[--only INDEX] [--keep DIR] [--keep-all] [--jobs N]\n";
        return 2;
    }
    // Every run gives tarnik-cli settings of its own; anything else keeps its settings in a
    // folder of the campaign's own.
    const tarnik::testing::ScopedConfigHome config;
    const std::vector<Family> families = Families();
    std::printf("Fault campaign: %d runs, seed %llu (repeat one run with --seed %llu --only N)\n",
                options.only ? 1 : options.runs, static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);

    std::map<std::string, Tally> byFault;
    Tally total;
    std::string longestRun;
    std::mutex mutex; // guards the tallies and the output
    const int first = options.only.value_or(0);
    const int last = options.only ? *options.only + 1 : options.runs;
    std::atomic<int> next{first};

    const auto worker = [&] {
        for (int index = next++; index < last; index = next++) {
            const RunPlan plan = DrawRun(families, options.seed, index);
            const Family& family =
                *std::find_if(families.begin(), families.end(),
                              [&](const Family& f) { return f.name == plan.family; });
            const tarnik::testing::TempDir dir;
            const Run run = Execute(options, family, plan, index, dir.path());
            const Verdict verdict =
                run.judgement.violations.empty() ? run.judgement.verdict : Verdict::Violation;

            const std::lock_guard<std::mutex> lock(mutex);
            for (Tally* t : {&byFault[plan.family + " " + plan.fault], &total}) {
                ++t->runs;
                t->successes += verdict == Verdict::Success;
                t->cleanFailures += verdict == Verdict::CleanFailure;
                t->violations += verdict == Verdict::Violation;
                t->longestMs = std::max(t->longestMs, run.outcome.durationMs);
            }
            if (run.outcome.durationMs == total.longestMs)
                longestRun = "run " + std::to_string(index) + ", " + plan.fault;
            const char* word = verdict == Verdict::Success        ? "success"
                               : verdict == Verdict::CleanFailure ? "clean failure"
                                                                  : "VIOLATION";
            std::printf("run %4d  type %2d %-4s %s %-18s %-28s -> %s, status %ld, %.1f s\n", index,
                        plan.unitType, plan.wire ? "wire" : "", plan.verify ? "V=1" : "V=0",
                        plan.fault.c_str(), Join(plan.simArgs).c_str(), word,
                        run.outcome.exitStatus.value_or(-999), run.outcome.durationMs / 1000.0);
            if (verdict == Verdict::Violation) {
                for (const std::string& v : run.judgement.violations)
                    std::printf("          violation: %s\n", v.c_str());
                std::printf("          tarnik-sim %s\n          tarnik-cli %s\n",
                            Join(run.simArgs).c_str(), Join(run.cliArgs).c_str());
            }
            if (verdict == Verdict::Violation || options.keepAll)
                KeepRun(options, run, index, dir.path());
            std::fflush(stdout);
        }
    };
    // The runs mostly wait for their time-outs, so a few side by side cost little processor
    // time.
    std::vector<std::thread> workers;
    for (int i = 1; i < options.jobs; ++i)
        workers.emplace_back(worker);
    worker();
    for (std::thread& t : workers)
        t.join();

    std::printf("\n%-28s %6s %9s %13s %11s %10s\n", "fault", "runs", "successes", "clean failures",
                "violations", "longest s");
    for (const auto& [name, tally] : byFault)
        PrintRow(name, tally);
    PrintRow("all", total);
    std::printf("longest run: %.1f s (%s)\n", total.longestMs / 1000.0, longestRun.c_str());
    std::printf("invariant violations: %d\n", total.violations);
    return total.violations == 0 ? 0 : 1;
}
