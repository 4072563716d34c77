// The invariants of a campaign run, checked from the emulator's report and the program's
// output.
#include "campaign.h"

#include <algorithm>
#include <regex>

namespace tarnik::campaign {

namespace {

constexpr const char* kStepLine = "-------";
constexpr const char* kErrorPrefix = "An error occurred. ";
constexpr const char* kWrongUnit = "This program is not intended for this unit ";
constexpr const char* kInterrupting = "Interrupting process";
constexpr const char* kDamagedFile = "Damaged file ";
// Time a process may take before its first step (port check, image reading, the pause after
// opening the port) and the grace every step gets on top of its time-out.
constexpr std::uint32_t kSetupMs = 5000;
constexpr std::uint32_t kGraceMs = 1000;
constexpr int kMaxStep = 64;

std::vector<ReportFacts::Record> ReadRecords(const std::string& section) {
    static const std::regex entry(
        R"re(\{"index": (-?\d+),[^{}]*"checksum_ok": (true|false), "matches": (true|false|null))re");
    std::vector<ReportFacts::Record> records;
    for (std::sregex_iterator it(section.begin(), section.end(), entry), end; it != end; ++it) {
        ReportFacts::Record r;
        r.index = std::stoi((*it)[1]);
        r.checksumOk = (*it)[2] == "true";
        if ((*it)[3] != "null") r.matches = (*it)[3] == "true";
        records.push_back(r);
    }
    return records;
}

std::string Section(const std::string& json, const std::string& name, const std::string& next) {
    const std::size_t from = json.find("\"" + name + "\": [");
    if (from == std::string::npos) return {};
    const std::size_t to = json.find("\"" + next + "\"", from);
    return json.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The step numbers that carry this name.
std::vector<int> StepsNamed(const Family& family, const std::string& name) {
    std::vector<int> steps;
    for (int step = 0; step < kMaxStep; ++step)
        if (family.stepName(step) == name) steps.push_back(step);
    return steps;
}

// The longest time a process may stay in a step of this name.
std::uint32_t StepLimitMs(const Family& family, const std::string& name, std::size_t records) {
    std::uint32_t limit = 0;
    for (const int step : StepsNamed(family, name)) {
        const auto timeout = family.stepTimeoutMs.find(step);
        if (timeout == family.stepTimeoutMs.end()) continue;
        const bool perRecord =
            std::count(family.perRecordSteps.begin(), family.perRecordSteps.end(), step) > 0;
        limit = std::max<std::uint32_t>(
            limit, timeout->second * static_cast<std::uint32_t>(perRecord ? records : 1));
    }
    return limit + kGraceMs;
}

bool Contains(const RunOutcome& outcome, const std::string& text) {
    if (outcome.errorText.find(text) != std::string::npos) return true;
    return std::any_of(outcome.lines.begin(), outcome.lines.end(), [&](const OutputLine& line) {
        return line.text.find(text) != std::string::npos;
    });
}

// The failing step named after "An error occurred. ", if a line says so.
std::optional<std::string> FailedStepName(const RunOutcome& outcome) {
    for (const OutputLine& line : outcome.lines)
        if (const std::size_t p = line.text.find(kErrorPrefix); p != std::string::npos)
            return line.text.substr(p + std::string(kErrorPrefix).size());
    return std::nullopt;
}

void CheckTiming(const Family& family, const RunPlan& plan, const RunOutcome& outcome,
                 std::vector<std::string>& violations) {
    if (!outcome.ended) {
        violations.push_back("did not end by itself (killed after " +
                             std::to_string(outcome.durationMs) + " ms)");
        return;
    }
    std::string step;
    std::uint32_t since = 0;
    std::uint32_t limit = kSetupMs;
    const auto close = [&](std::uint32_t at, std::uint32_t extraMs) {
        if (at - since > limit + extraMs)
            violations.push_back("stayed " + std::to_string(at - since) + " ms in step \"" + step +
                                 "\" (limit " + std::to_string(limit + extraMs) + " ms)");
    };
    for (const OutputLine& line : outcome.lines) {
        if (line.text.rfind(kStepLine, 0) != 0) continue;
        close(line.atMs, 0);
        step = line.text.substr(std::string(kStepLine).size());
        since = line.atMs;
        limit = step.rfind(kErrorPrefix, 0) == 0
                    ? kGraceMs
                    : StepLimitMs(family, step, plan.recordSizes.size());
    }
    // The last step is followed by the family's pause before the process ends.
    close(outcome.durationMs, family.endPauseMs);
}

void CheckRecords(const ReportFacts& facts, std::vector<std::string>& violations) {
    for (const auto& r : facts.records) {
        if (!r.checksumOk || r.matches == false)
            violations.push_back("record " + std::to_string(r.index) +
                                 " reached the unit different from the image");
    }
}

// The unit got records first .. count-1, each once, in order and intact.
bool WholeImage(const std::vector<ReportFacts::Record>& records, std::size_t first,
                std::size_t count) {
    if (first > count || records.size() != count - first) return false;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].index != static_cast<int>(first + i) || records[i].matches != true ||
            !records[i].checksumOk)
            return false;
    return true;
}

void CheckSuccess(const RunPlan& plan, const std::optional<ReportFacts>& facts,
                  std::vector<std::string>& violations) {
    const std::size_t count = plan.recordSizes.size();
    if (!plan.successPossible) violations.push_back("success against a unit that cannot finish");
    if (!facts) {
        violations.push_back("success without a report of the unit");
        return;
    }
    if (!facts->complete) violations.push_back("success but the unit's application never started");
    if (!WholeImage(facts->records, plan.firstRecord, count))
        violations.push_back("success but the unit did not get every record intact and in order");
    if (plan.verify && !WholeImage(facts->verifications, plan.firstRecord, count))
        violations.push_back("success with verification but not every record was verified");
}

void CheckFailure(const Family& family, const RunPlan& plan, const RunOutcome& outcome,
                  const std::optional<ReportFacts>& facts, std::vector<std::string>& violations) {
    const long status = *outcome.exitStatus;
    if (plan.damageImage) {
        if (status != -1) violations.push_back("a damaged image did not end with status -1");
        if (!Contains(outcome, kDamagedFile)) violations.push_back("no \"Damaged file \" message");
        if (facts && facts->frames > 0)
            violations.push_back(std::to_string(facts->frames) +
                                 " frames sent after the image failed to load");
        return;
    }
    if (plan.successExpected) violations.push_back("a run without a fault did not succeed");
    if (const auto failed = FailedStepName(outcome)) {
        const std::vector<int> steps = StepsNamed(family, *failed);
        const long step = status - family.errorExitOffset;
        if (std::find(steps.begin(), steps.end(), step) == steps.end())
            violations.push_back("exit status " + std::to_string(status) +
                                 " does not name the failed step \"" + *failed + "\"");
        return;
    }
    if (Contains(outcome, kWrongUnit)) {
        const auto& exits = family.wrongUnitExits;
        if (std::find(exits.begin(), exits.end(), status) == exits.end())
            violations.push_back("exit status " + std::to_string(status) + " for a wrong unit");
        return;
    }
    if (Contains(outcome, kInterrupting)) return;
    violations.push_back("failed (exit status " + std::to_string(status) +
                         ") without \"An error occurred. \", a wrong unit or an interruption");
}

} // namespace

std::optional<ReportFacts> ReadReport(const std::string& json) {
    if (json.find("\"verdict\"") == std::string::npos) return std::nullopt;
    ReportFacts facts;
    facts.complete = json.find("\"complete\": true") != std::string::npos;
    std::smatch m;
    if (std::regex_search(json, m, std::regex(R"("image_records": (\d+))")))
        facts.imageRecords = std::stoi(m[1]);
    if (std::regex_search(json, m, std::regex(R"("violation_count": (\d+))")))
        facts.violationCount = std::stoi(m[1]);
    const std::string frames = Section(json, "frames", "records");
    std::size_t at = 0;
    while ((at = frames.find("\"time_ms\"", at)) != std::string::npos) {
        ++facts.frames;
        ++at;
    }
    facts.records = ReadRecords(Section(json, "records", "verifications"));
    facts.verifications = ReadRecords(Section(json, "verifications", "violations"));
    return facts;
}

Judgement Judge(const Family& family, const RunPlan& plan, const RunOutcome& outcome) {
    Judgement j;
    std::vector<std::string>& v = j.violations;
    CheckTiming(family, plan, outcome, v);
    const std::optional<ReportFacts> facts = ReadReport(outcome.reportJson);
    if (facts) {
        CheckRecords(*facts, v);
        if (facts->violationCount > 0)
            v.push_back("the unit saw " + std::to_string(facts->violationCount) +
                        " protocol violations");
    } else if (!plan.damageImage) {
        v.push_back("the unit wrote no report");
    }

    bool success = false;
    if (!outcome.exitStatus) {
        if (outcome.ended) v.push_back("no \"Exit status: N\" line");
    } else {
        success = *outcome.exitStatus == family.successExit;
        // Programmed 0, nothing ran 4, any other end (no run is stopped here) 1.
        const int code = success ? 0 : *outcome.exitStatus == -1 ? 4 : 1;
        if (outcome.ended && outcome.exitCode != code)
            v.push_back("exit code " + std::to_string(outcome.exitCode) + " for the status " +
                        std::to_string(*outcome.exitStatus) + ", not " + std::to_string(code));
        if (success)
            CheckSuccess(plan, facts, v);
        else
            CheckFailure(family, plan, outcome, facts, v);
    }
    j.verdict = !v.empty() ? Verdict::Violation
                : success  ? Verdict::Success
                           : Verdict::CleanFailure;
    return j;
}

} // namespace tarnik::campaign
