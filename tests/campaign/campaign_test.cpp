// The campaign's judgement of a run: every invariant must catch the fault it is there for,
// and a clean run must pass. Reports are made by the emulator's own report writer.
#include "campaign.h"

#include "programmers/s19_programmer.h"
#include "sim/unit_report.h"

#include <gtest/gtest.h>

#include <set>

namespace tarnik::campaign {
namespace {

const Family& Main() {
    static const Family family = Families().front();
    return family;
}

RunPlan Plan(std::size_t records = 2, bool verify = false) {
    RunPlan plan;
    plan.family = Main().name;
    plan.fault = "none";
    plan.recordSizes.assign(records, 16);
    plan.verify = verify;
    return plan;
}

// A report of a unit that received `records` records (the one at `bad` differing from the
// image) and verified them when asked.
std::string Report(std::size_t records, bool complete, int bad = -1, bool verified = false) {
    sim::UnitReport report;
    report.unitType = 1;
    report.complete = complete;
    report.imageRecords = records;
    report.frames.push_back({10, {}, "\xFF\xFF", "identify query"});
    for (std::size_t i = 0; i < records; ++i) {
        sim::RecordEntry entry;
        entry.index = static_cast<int>(i);
        entry.attempts = 1;
        entry.matches = static_cast<int>(i) != bad;
        report.records.push_back(entry);
        if (verified) report.verifications.push_back(entry);
    }
    return sim::ReportToJson(report, true);
}

RunOutcome Outcome(long status, std::vector<std::string> texts, std::string report) {
    RunOutcome out;
    out.ended = true;
    out.exitStatus = status;
    // As tarnik-cli exits: the families' success statuses 0, nothing ran 4, else failed 1.
    out.exitCode = status == 20 || status == 19 || status == 18 ? 0 : status == -1 ? 4 : 1;
    std::uint32_t at = 0;
    for (std::string& text : texts)
        out.lines.push_back({at += 100, std::move(text)});
    out.durationMs = at + 100;
    out.reportJson = std::move(report);
    return out;
}

RunOutcome Success(std::string report) {
    return Outcome(20,
                   {"-------Unit identification", "-------Programming ...", "-------Ending process",
                    "Exit status: 20"},
                   std::move(report));
}

TEST(CampaignJudge, SuccessNeedsTheWholeImageAtTheUnit) {
    EXPECT_EQ(Judge(Main(), Plan(), Success(Report(2, true))).verdict, Verdict::Success);
    EXPECT_EQ(Judge(Main(), Plan(2, true), Success(Report(2, true, -1, true))).verdict,
              Verdict::Success);

    const std::vector<std::pair<RunPlan, std::string>> wrong = {
        {Plan(), Report(2, true, 1)},     // a record differs from the image
        {Plan(3), Report(2, true)},       // a record is missing
        {Plan(), Report(2, false)},       // the application was never started
        {Plan(2, true), Report(2, true)}, // verification asked, nothing verified
        {Plan(), ""},                     // no report at all
    };
    for (const auto& [plan, report] : wrong)
        EXPECT_EQ(Judge(Main(), plan, Success(report)).verdict, Verdict::Violation) << report;

    RunPlan blocked = Plan();
    blocked.successPossible = false;
    EXPECT_EQ(Judge(Main(), blocked, Success(Report(2, true))).verdict, Verdict::Violation);
}

TEST(CampaignJudge, AFailureMustNameItsStepInTextAndStatus) {
    const long error = Main().errorExitOffset + TS19_WR::kConnection;
    const std::vector<std::string> failed = {"-------Unit identification",
                                             "-------Connection establishment",
                                             "-------An error occurred. Connection establishment"};
    auto lines = failed;
    lines.push_back("Exit status: " + std::to_string(error));
    EXPECT_EQ(Judge(Main(), Plan(), Outcome(error, lines, Report(0, false))).verdict,
              Verdict::CleanFailure);
    // The status names another step than the text.
    EXPECT_EQ(Judge(Main(), Plan(), Outcome(error + 1, lines, Report(0, false))).verdict,
              Verdict::Violation);
    // A failure that says nothing.
    EXPECT_EQ(
        Judge(Main(), Plan(), Outcome(error, {"-------Unit identification"}, Report(0, false)))
            .verdict,
        Verdict::Violation);
    // A wrong unit ends with the identification step left.
    const std::vector<std::string> wrongUnit = {
        "-------Unit identification", "-------This program is not intended for this unit "};
    EXPECT_EQ(Judge(Main(), Plan(), Outcome(2, wrongUnit, Report(0, false))).verdict,
              Verdict::CleanFailure);
    EXPECT_EQ(Judge(Main(), Plan(), Outcome(4, wrongUnit, Report(0, false))).verdict,
              Verdict::Violation);
    // A run without a fault must succeed.
    RunPlan clean = Plan();
    clean.successExpected = true;
    EXPECT_EQ(Judge(Main(), clean, Outcome(error, lines, Report(0, false))).verdict,
              Verdict::Violation);
}

TEST(CampaignJudge, HangsSlowStepsAndFramesAfterALoadFailure) {
    RunOutcome hung = Success(Report(2, true));
    hung.ended = false;
    EXPECT_EQ(Judge(Main(), Plan(), hung).verdict, Verdict::Violation);

    // Identification gives up after 10 s; 11.5 s in it is a hang.
    RunOutcome slow = Success(Report(2, true));
    slow.lines[1].atMs = slow.lines[0].atMs + 11500;
    slow.lines[2].atMs = slow.lines[1].atMs + 100;
    slow.lines[3].atMs = slow.lines[2].atMs + 100;
    slow.durationMs = slow.lines[3].atMs + 100;
    EXPECT_EQ(Judge(Main(), Plan(), slow).verdict, Verdict::Violation);
    // Programming restarts its time-out per record: 3 records may take up to 30 s.
    slow.lines[1].atMs = slow.lines[0].atMs + 9000;
    slow.lines[2].atMs = slow.lines[1].atMs + 25000;
    slow.lines[3].atMs = slow.lines[2].atMs + 100;
    slow.durationMs = slow.lines[3].atMs + 100;
    EXPECT_EQ(Judge(Main(), Plan(3), Success(Report(3, true))).verdict, Verdict::Success);
    EXPECT_EQ(Judge(Main(), Plan(3), slow).verdict, Verdict::Violation); // report: 2 records

    RunPlan damaged = Plan();
    damaged.damageImage = true;
    damaged.successPossible = false;
    RunOutcome refused = Outcome(-1, {"Exit status: -1"}, Report(0, false));
    refused.errorText = "Damaged file image.bin\n";
    sim::UnitReport silentHost;
    refused.reportJson = sim::ReportToJson(silentHost, false);
    EXPECT_EQ(Judge(Main(), damaged, refused).verdict, Verdict::CleanFailure);
    refused.reportJson = Report(0, false); // one frame reached the unit
    EXPECT_EQ(Judge(Main(), damaged, refused).verdict, Verdict::Violation);
}

TEST(CampaignJudge, ReadsTheEmulatorsReport) {
    const auto facts = ReadReport(Report(3, true, 1, true));
    ASSERT_TRUE(facts.has_value());
    EXPECT_TRUE(facts->complete);
    EXPECT_EQ(facts->frames, 1);
    EXPECT_EQ(facts->imageRecords, 3);
    ASSERT_EQ(facts->records.size(), 3u);
    EXPECT_EQ(facts->records[1].matches, false);
    EXPECT_EQ(facts->records[2].index, 2);
    EXPECT_EQ(facts->verifications.size(), 3u);
    EXPECT_FALSE(ReadReport("").has_value());
}

TEST(CampaignPlan, RunsAreRepeatableAndCoverEveryFault) {
    std::set<std::string> faults;
    std::set<std::string> families;
    for (int i = 0; i < 600; ++i) {
        const RunPlan a = DrawRun(Families(), 77, i);
        const RunPlan b = DrawRun(Families(), 77, i);
        EXPECT_EQ(a.fault, b.fault);
        EXPECT_EQ(a.simArgs, b.simArgs);
        EXPECT_EQ(a.recordSizes, b.recordSizes);
        faults.insert(a.fault);
        families.insert(a.family);
        // Addresses only for the types that have one; type 15's comes from the settings.
        const std::set<int> withAddress = {1, 2, 4, 8, 9, 15};
        EXPECT_EQ(a.address.has_value(), withAddress.count(a.unitType) == 1) << a.unitType;
        EXPECT_EQ(a.addressSetting.has_value(), a.unitType == 15);
        // A record fault strikes a record the loader sends: the audio unit never gets record 0.
        if (a.unitType == 5) {
            EXPECT_TRUE(a.verify);
            EXPECT_GE(a.recordSizes.size(), 2u);
            EXPECT_EQ(std::find(a.simArgs.begin(), a.simArgs.end(), "0"), a.simArgs.end());
        }
        if (a.family == "TTCP_WR") {
            EXPECT_FALSE(a.verify);
        }
    }
    std::set<std::string> every;
    for (const Family& family : Families())
        for (const FaultKind& kind : family.faults)
            every.insert(kind.name);
    EXPECT_EQ(faults, every);
    EXPECT_EQ(families.size(), 3u);
}

TEST(CampaignJudge, OtherFamiliesFirstRecordAndWrongUnitSteps) {
    const std::vector<Family> families = Families();
    const Family& network = families[1];
    const Family& audio = families[2];
    RunPlan plan = Plan(3, true);
    plan.family = audio.name;
    plan.firstRecord = 1;
    const auto audioSuccess = [](std::string report) {
        return Outcome(18, {"-------Unit identification", "Exit status: 18"}, std::move(report));
    };
    // Records 1 and 2 arrived and were verified; a report that also lists record 0 or lacks
    // record 2 is no success.
    sim::UnitReport report;
    report.complete = true;
    report.frames.push_back({10, {}, "\xEE", "identify"});
    for (int i = 1; i <= 2; ++i) {
        sim::RecordEntry entry;
        entry.index = i;
        entry.matches = true;
        report.records.push_back(entry);
        report.verifications.push_back(entry);
    }
    EXPECT_EQ(Judge(audio, plan, audioSuccess(sim::ReportToJson(report, true))).verdict,
              Verdict::Success);
    report.verifications.pop_back();
    EXPECT_EQ(Judge(audio, plan, audioSuccess(sim::ReportToJson(report, true))).verdict,
              Verdict::Violation);
    EXPECT_EQ(Judge(audio, plan, audioSuccess(Report(3, true, -1, true))).verdict,
              Verdict::Violation);
    // A network module of another type is found in identification or in boot identification.
    RunPlan wrong = Plan();
    wrong.family = network.name;
    for (const int step : {6, 9, 12}) {
        const Verdict verdict = Judge(network, wrong,
                                      Outcome(step,
                                              {"-------" + network.stepName(step),
                                               "-------This program is not intended for this unit ",
                                               "Exit status: " + std::to_string(step)},
                                              Report(0, false)))
                                    .verdict;
        EXPECT_EQ(verdict, step == 12 ? Verdict::Violation : Verdict::CleanFailure) << step;
    }
}

} // namespace
} // namespace tarnik::campaign
