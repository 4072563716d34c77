#pragma once
// The fault campaign: whole tarnik-cli processes against tarnik-sim over pseudo-terminals,
// one drawn fault per run, each run judged from the emulator's report and the program's
// output. A programmer family enters through one Family entry: its unit types, exit statuses,
// step time-outs and the fault kinds its emulated unit can play.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarnik::campaign {

using Rng = std::mt19937_64;

// What one run does: the unit, the image, the line and the fault.
struct RunPlan {
    std::string family;
    std::string fault; // the fault kind's name ("none" for a clean run)
    int unitType = 1;
    std::optional<std::uint8_t> address; // given to both sides; none: the type's fixed address
    // The setting the loader reads the address from, for a type that takes no --address: the
    // run's settings file holds it instead.
    std::optional<std::string> addressSetting;
    std::size_t firstRecord = 0; // the first record the loader sends (the others are skipped)
    std::vector<std::size_t> recordSizes;
    bool verify = false;
    bool wire = false;
    bool damageImage = false;         // the loader gets a damaged copy of the image
    bool successPossible = true;      // a correct loader can finish against this fault
    bool successExpected = false;     // a correct loader must finish (no fault at all)
    std::vector<std::string> simArgs; // fault options of tarnik-sim
    std::vector<std::string> cliArgs; // the family's own options of tarnik-cli
};

struct FaultKind {
    std::string name;
    int weight = 1;
    // Sets the fault up on a plan that already has its unit, image and line.
    std::function<void(Rng&, RunPlan&)> apply;
};

// Whether the family's processes verify the records they sent.
enum class Verification { Optional, Always, Never };

struct Family {
    std::string name;
    std::vector<int> unitTypes;
    std::vector<int> typesWithAddress; // the technician sets the address; the others use 0
    // Types that use an address stored for another type, with the setting's name.
    std::map<int, std::string> typesWithStoredAddress;
    std::size_t firstRecord = 0; // records before it are never sent to the unit
    Verification verification = Verification::Optional;
    std::vector<std::string> cliArgs; // e.g. the answer to a question the process asks
    int successExit = 20;
    int errorExitOffset = 5376;
    std::uint32_t endPauseMs = 0; // the pause after the last step before the process ends
    // The steps that can be left for "This program is not intended for this unit ".
    std::vector<int> wrongUnitExits;
    // Longest time-out of each step (ms) and the steps whose timer restarts per record.
    std::map<int, std::uint32_t> stepTimeoutMs;
    std::vector<int> perRecordSteps;
    std::function<std::string(int step)> stepName;
    std::vector<FaultKind> faults;
};

// The families the campaign knows.
std::vector<Family> Families();
// Draws the run with the given index of a campaign from its seed.
RunPlan DrawRun(const std::vector<Family>& families, std::uint64_t seed, int index);

// One output line of the program with the moment it arrived (ms since the start).
struct OutputLine {
    std::uint32_t atMs = 0;
    std::string text;
};

// What a run produced.
struct RunOutcome {
    bool ended = false;             // the program ended by itself before the hard limit
    int exitCode = -1;              // as the shell sees it
    std::optional<long> exitStatus; // from the last line "Exit status: N"
    std::uint32_t durationMs = 0;
    std::vector<OutputLine> lines;
    std::string errorText;  // the program's standard error
    std::string reportJson; // the emulator's report; empty when it wrote none
};

enum class Verdict { Success, CleanFailure, Violation };

struct Judgement {
    Verdict verdict = Verdict::Violation;
    std::vector<std::string> violations;
};

// Checks the invariants of a run.
Judgement Judge(const Family& family, const RunPlan& plan, const RunOutcome& outcome);

// What the emulator's report says (its JSON as tarnik-sim writes it).
struct ReportFacts {
    bool complete = false;
    int frames = 0;
    std::optional<int> imageRecords;
    int violationCount = 0;
    struct Record {
        int index = 0;
        bool checksumOk = true;
        std::optional<bool> matches;
    };
    std::vector<Record> records;
    std::vector<Record> verifications;
};
std::optional<ReportFacts> ReadReport(const std::string& json);

} // namespace tarnik::campaign
