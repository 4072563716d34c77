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
    out.exitCode = static_cast<int>(status & 0xFF);
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
    const std::vector<Family> families = Families();
    std::set<std::string> faults;
    for (int i = 0; i < 600; ++i) {
        const RunPlan a = DrawRun(families, 77, i);
        const RunPlan b = DrawRun(families, 77, i);
        EXPECT_EQ(a.fault, b.fault);
        EXPECT_EQ(a.simArgs, b.simArgs);
        EXPECT_EQ(a.recordSizes, b.recordSizes);
        faults.insert(a.fault);
        const auto& settable = Main().typesWithAddress;
        EXPECT_EQ(a.address.has_value(),
                  std::find(settable.begin(), settable.end(), a.unitType) != settable.end());
    }
    EXPECT_EQ(faults.size(), Main().faults.size());
}

} // namespace
} // namespace tarnik::campaign
