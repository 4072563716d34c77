// The families of the campaign and the drawing of a run.
#include "campaign.h"

#include "programmers/audio_programmer.h"
#include "programmers/s19_programmer.h"
#include "programmers/tcp_programmer.h"

#include <algorithm>

namespace tarnik::campaign {

namespace {

int Uniform(Rng& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

template <typename T> const T& Pick(Rng& rng, const std::vector<T>& from) {
    return from[static_cast<std::size_t>(Uniform(rng, 0, static_cast<int>(from.size()) - 1))];
}

// A record the loader sends.
int RandomRecord(Rng& rng, const RunPlan& plan) {
    return Uniform(rng, static_cast<int>(plan.firstRecord),
                   static_cast<int>(plan.recordSizes.size()) - 1);
}

void Add(RunPlan& plan, std::initializer_list<std::string> args) {
    plan.simArgs.insert(plan.simArgs.end(), args);
}

// Fault kinds every family of the bootloader protocol can play on tarnik-sim.
std::vector<FaultKind> BootloaderFaults() {
    return {
        {"none", 3,
         [](Rng& rng, RunPlan& plan) {
             plan.successExpected = true;
             // Slow erasure and an already running bootloader are no faults.
             if (Uniform(rng, 0, 2) == 0) Add(plan, {"--erase-progress", "1,2"});
             if (Uniform(rng, 0, 3) == 0) Add(plan, {"--bootloader-active"});
         }},
        {"noise", 2,
         [](Rng& rng, RunPlan& plan) {
             static const std::vector<std::string> kRates = {"5", "25", "60", "100"};
             Add(plan, {"--noise-rate", Pick(rng, kRates)});
         }},
        {"dropped ack", 1,
         [](Rng& rng, RunPlan& plan) {
             Add(plan, {"--drop-ack", std::to_string(RandomRecord(rng, plan))});
         }},
        {"delayed ack", 1,
         [](Rng& rng, RunPlan& plan) {
             static const std::vector<std::string> kDelays = {"50", "400", "1500"};
             Add(plan, {"--answer-delay-ms", Pick(rng, kDelays)});
         }},
        {"hang-up", 1,
         [](Rng& rng, RunPlan& plan) {
             plan.successPossible = false;
             Add(plan, {"--hangup-at-record", std::to_string(RandomRecord(rng, plan))});
         }},
        {"silent unit", 1,
         [](Rng&, RunPlan& plan) {
             plan.successPossible = false;
             Add(plan, {"--silent"});
         }},
        {"wrong unit type", 1,
         [](Rng&, RunPlan& plan) {
             plan.successPossible = false;
             Add(plan, {"--wrong-type"});
         }},
        {"erase failure", 1,
         [](Rng& rng, RunPlan& plan) {
             plan.successPossible = false;
             Add(plan, {"--erase-fail"});
             if (Uniform(rng, 0, 1) == 0) Add(plan, {"--erase-progress", "1"});
         }},
        {"verify mismatch", 1,
         [](Rng& rng, RunPlan& plan) {
             plan.verify = true;
             plan.successPossible = false;
             Add(plan, {"--verify-mismatch", std::to_string(RandomRecord(rng, plan))});
         }},
        {"duplicate answers", 1, [](Rng&, RunPlan& plan) { Add(plan, {"--duplicate-answers"}); }},
        {"answers in pieces", 1,
         [](Rng& rng, RunPlan& plan) {
             // A piece every 16 ms: smaller pieces would fall behind the audio unit's frames.
             static const std::vector<std::string> kSizes = {"2", "4"};
             Add(plan, {"--chunk-bytes", Pick(rng, kSizes)});
         }},
        {"foreign address", 1,
         [](Rng&, RunPlan& plan) {
             plan.successPossible = false;
             Add(plan, {"--foreign-address"});
         }},
        {"damaged image", 1,
         [](Rng&, RunPlan& plan) {
             plan.successPossible = false;
             plan.damageImage = true;
         }},
    };
}

// The family's programmer must finish against this fault kind.
void ExpectSuccess(std::vector<FaultKind>& faults, const std::string& name) {
    for (FaultKind& kind : faults) {
        if (kind.name != name) continue;
        kind.apply = [apply = kind.apply](Rng& rng, RunPlan& plan) {
            apply(rng, plan);
            plan.successExpected = true;
        };
    }
}

// Fault kinds tarnik-sim can play, less those a family's units cannot show.
std::vector<FaultKind> FaultsWithout(std::initializer_list<std::string> left) {
    std::vector<FaultKind> faults = BootloaderFaults();
    std::erase_if(faults, [&](const FaultKind& kind) {
        return std::find(left.begin(), left.end(), kind.name) != left.end();
    });
    return faults;
}

Family MainFamily() {
    Family f;
    f.name = "TS19_WR";
    f.unitTypes = {0, 1, 2, 3, 6, 7, 8, 10, 11, 12, 13, 14, 16, 17, 18};
    f.typesWithAddress = {1, 2, 8}; // type 11 always works at address 0
    f.successExit = TS19_WR::kStartApplication;
    f.errorExitOffset = TS19_WR::kErrorExitOffset;
    f.wrongUnitExits = {TS19_WR::kIdentification};
    // The step machine's time-outs; steps without one pass at the next dispatch.
    f.stepTimeoutMs = {
        {TS19_WR::kIdentification, 10000}, {TS19_WR::kConnection, 5000},
        {TS19_WR::kSerialQuery, 5000},     {TS19_WR::kEraseBlock1, 60000},
        {TS19_WR::kEraseBlock2, 60000},    {TS19_WR::kStartProgramming, 10000},
        {TS19_WR::kProgramming, 10000},    {TS19_WR::kEndingProgramming, 10000},
        {TS19_WR::kVerification, 5000},    {TS19_WR::kStartApplication, 10000},
    };
    f.perRecordSteps = {TS19_WR::kProgramming, TS19_WR::kVerification};
    f.stepName = [](int step) { return TS19_WR::StepName(step); };
    f.faults = BootloaderFaults();
    return f;
}

Family NetworkFamily() {
    using P = TTCP_WR;
    Family f;
    f.name = "TTCP_WR";
    f.unitTypes = {4, 9, 15};
    f.typesWithAddress = {4, 9};
    f.typesWithStoredAddress = {{15, "adr_srva_netk"}};
    f.verification = Verification::Never;
    // The version question of the network modules is answered Yes, as at a station.
    f.cliArgs = {"--yes"};
    f.successExit = P::kEndingProgramming;
    f.endPauseMs = 500;
    f.errorExitOffset = kErrorExitOffset;
    f.wrongUnitExits = {P::kIdentification, P::kBootIdentification};
    // The speed switches only pause (500 ms) before the next step.
    f.stepTimeoutMs = {
        {P::kHandshakeIse, 20000},      {P::kHandshakeIst, 20000},   {P::kSwitchTo57600, 1000},
        {P::kSwitchTo19200, 1000},      {P::kIdentification, 20000}, {P::kBootIdentification, 5000},
        {P::kConnection, 20000},        {P::kErasing, 120000},       {P::kProgramming, 15000},
        {P::kEndingProgramming, 10000},
    };
    f.perRecordSteps = {P::kProgramming};
    f.stepName = [](int step) { return P::StepName(step); };
    // Network modules have no verification.
    f.faults = FaultsWithout({"verify mismatch"});
    // Answers are recognised with a tolerant bit rule (a received byte may carry extra bits),
    // so the answers of address + 1 pass for an even address. The unit then still gets the
    // whole image, which the judgement of a success checks.
    for (FaultKind& kind : f.faults)
        if (kind.name == "foreign address")
            kind.apply = [](Rng&, RunPlan& plan) { Add(plan, {"--foreign-address"}); };
    ExpectSuccess(f.faults, "answers in pieces");
    // A record answered twice; the second copy may come while a later record's frame is lost.
    f.faults.push_back(
        {"record answered twice", 1, [](Rng& rng, RunPlan& plan) {
             static const std::vector<std::string> kAfter = {"5", "50", "300"};
             plan.successExpected = true;
             Add(plan, {"--record-answer-again-ms", Pick(rng, kAfter)});
             if (Uniform(rng, 0, 1) == 0)
                 Add(plan, {"--lose-record", std::to_string(RandomRecord(rng, plan))});
         }});
    f.faults.push_back({"lost record", 1, [](Rng& rng, RunPlan& plan) {
                            plan.successExpected = true;
                            Add(plan, {"--lose-record", std::to_string(RandomRecord(rng, plan))});
                        }});
    return f;
}

Family AudioFamily() {
    using P = TVAUDIO_WR;
    Family f;
    f.name = "TVAUDIO_WR";
    f.unitTypes = {5};
    // Record 0 of an audio unit's image is never sent; every process verifies.
    f.firstRecord = 1;
    f.verification = Verification::Always;
    f.successExit = P::kStartApplication;
    f.errorExitOffset = kErrorExitOffset;
    f.stepTimeoutMs = {
        {P::kIdentification, 5000},       {P::kConnection, 5000},
        {P::kIdentifyInBootloader, 5000}, {P::kErase, 30000},
        {P::kStartProgramming, 5000},     {P::kProgramming, 5000},
        {P::kEndingProgramming, 5000},    {P::kStartVerification, 5000},
        {P::kVerification, 5000},         {P::kEndVerification, 5000},
        {P::kStartApplication, 5000},
    };
    f.perRecordSteps = {P::kProgramming, P::kVerification};
    f.stepName = [](int step) { return P::StepName(step); };
    // The audio unit reports no unit type.
    f.faults = FaultsWithout({"wrong unit type"});
    ExpectSuccess(f.faults, "answers in pieces");
    // An erasure that answers the frame that started it, once it is done.
    f.faults.push_back({"long erasure", 1, [](Rng& rng, RunPlan& plan) {
                            static const std::vector<std::string> kBusy = {"1500", "12000"};
                            plan.successExpected = true;
                            Add(plan, {"--erase-busy-ms", Pick(rng, kBusy)});
                        }});
    return f;
}

} // namespace

std::vector<Family> Families() {
    return {MainFamily(), NetworkFamily(), AudioFamily()};
}

RunPlan DrawRun(const std::vector<Family>& families, std::uint64_t seed, int index) {
    Rng rng(seed * 1000003u + static_cast<std::uint64_t>(index));
    const Family& family = Pick(rng, families);
    RunPlan plan;
    plan.family = family.name;
    plan.unitType = Pick(rng, family.unitTypes);
    plan.firstRecord = family.firstRecord;
    plan.cliArgs = family.cliArgs;
    const auto& settable = family.typesWithAddress;
    const auto stored = family.typesWithStoredAddress.find(plan.unitType);
    if (std::find(settable.begin(), settable.end(), plan.unitType) != settable.end() ||
        stored != family.typesWithStoredAddress.end())
        plan.address = static_cast<std::uint8_t>(Uniform(rng, 1, 0xFE));
    if (stored != family.typesWithStoredAddress.end()) plan.addressSetting = stored->second;
    // Short images keep a run short; at least one record is sent.
    const int records = Uniform(rng, static_cast<int>(family.firstRecord) + 1, 5);
    for (int i = 0; i < records; ++i)
        plan.recordSizes.push_back(static_cast<std::size_t>(Uniform(rng, 8, 64)));
    const bool verify = Uniform(rng, 0, 1) == 1;
    plan.verify = family.verification == Verification::Always ||
                  (family.verification == Verification::Optional && verify);
    plan.wire = Uniform(rng, 0, 2) == 0;

    int total = 0;
    for (const FaultKind& kind : family.faults)
        total += kind.weight;
    int draw = Uniform(rng, 0, total - 1);
    for (const FaultKind& kind : family.faults) {
        if (draw < kind.weight) {
            plan.fault = kind.name;
            kind.apply(rng, plan);
            break;
        }
        draw -= kind.weight;
    }
    return plan;
}

} // namespace tarnik::campaign
