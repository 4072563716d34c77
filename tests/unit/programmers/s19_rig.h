#pragma once
// Test rig for the main-family programmer: a recording window, a small scripted unit that
// plays the bootloader protocol on a loopback line, and the wiring on a virtual clock.
#include "programmers/bootloader_frames.h"
#include "programmers/process_view.h"
#include "programmers/s19_programmer.h"
#include "serial/tfustaw.h"
#include "sim/loopback.h"
#include "sim/quiet_view.h"
#include "sim/unit_peer.h"
#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include "support/virtual_line.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnik::test {

// ---- the window ------------------------------------------------------------------------

class RecordingView final : public sim::QuietProcessView {
public:
    RecordingView(MessagePump& pump, Clock& clock) : QuietProcessView(pump), clock_(clock) {
        boxVer = false;
        unitType = 1;
    }

    // The window's log line processes pending messages after appending, so a STOP can
    // arrive inside it; pumpInLogLine plays that.
    void LogLine(const Text& line) override {
        log.push_back(line);
        if (pumpInLogLine) pump().processMessages();
    }
    void SetInfoTx(const Text& caption) override {
        infoTx.push_back(caption);
        infoTxAt.push_back(clock_.TickMs());
    }
    void SetInfoTxColour(StatusColour c) override { colour = c; }
    bool AskYesNo(const Text& text, bool defaultNo) override {
        questions.push_back(text);
        questionDefaultNo = defaultNo;
        return answerYes;
    }
    void SetPBarPosition(int position) override { pbar.push_back(position); }
    void SetPBarVisible(bool visible) override { pbarVisible = visible; }
    void SetApplicationTitle(const Text& title) override {
        if (titles.empty() || titles.back() != title) titles.push_back(title);
    }

    // Log lines of step changes, without the "-------" prefix.
    std::vector<Text> StepLines() const {
        std::vector<Text> steps;
        for (const Text& line : log)
            if (line.rfind("-------", 0) == 0) steps.push_back(line.substr(7));
        return steps;
    }
    std::size_t CountLog(const Text& line) const {
        std::size_t n = 0;
        for (const Text& l : log)
            n += l == line ? 1 : 0;
        return n;
    }
    // Tick of the first status line with this caption.
    std::optional<std::uint32_t> StatusTime(const Text& caption) const {
        for (std::size_t i = 0; i < infoTx.size(); ++i)
            if (infoTx[i] == caption) return infoTxAt[i];
        return std::nullopt;
    }
    Text LastInfoTx() const { return infoTx.empty() ? Text{} : infoTx.back(); }

    std::vector<Text> log;
    std::vector<Text> infoTx;
    std::vector<std::uint32_t> infoTxAt;
    StatusColour colour = StatusColour::Black;
    std::vector<int> pbar;
    bool pbarVisible = false;
    std::vector<Text> titles;
    std::vector<Text> questions;
    bool questionDefaultNo = false;
    bool pumpInLogLine = false;

private:
    Clock& clock_;
};

// ---- firmware records ------------------------------------------------------------------

constexpr std::uint8_t kRecordCommand = 0x31;
constexpr std::uint8_t kVerifyCommand = 0x13;

inline std::uint8_t SumOf(const Text& bytes, std::size_t from, std::size_t to) {
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += ByteAt(bytes, i);
    return static_cast<std::uint8_t>(sum);
}

inline TLDane MakeRecord(std::uint16_t address, std::uint16_t key, std::size_t dataBytes) {
    Text plain;
    plain += AsChar(kRecordCommand);
    plain += AsChar(static_cast<std::uint8_t>(address >> 8));
    plain += AsChar(static_cast<std::uint8_t>(address & 0xFF));
    plain += AsChar(static_cast<std::uint8_t>(dataBytes & 0xFF));
    for (std::size_t i = 0; i < dataBytes; ++i)
        plain += AsChar(static_cast<std::uint8_t>(i * 7));
    plain += AsChar(SumOf(plain, 0, plain.size()));

    Text verify = plain;
    verify[0] = AsChar(kVerifyCommand);
    verify.back() =
        AsChar(static_cast<std::uint8_t>(kVerifyCommand + SumOf(verify, 1, verify.size() - 1)));

    TLDane record;
    record.address = address;
    record.key = key;
    record.length = static_cast<std::uint16_t>(plain.size());
    ScrambleText(plain, 1, record.programmingText, key);
    ScrambleText(verify, 1, record.verificationText, key);
    return record;
}

inline RecordList MakeRecords(int count, std::uint16_t firstKey = 0x1234) {
    RecordList records;
    for (int i = 0; i < count; ++i)
        records.push_back(MakeRecord(static_cast<std::uint16_t>(0x1000 + i * 0x100),
                                     static_cast<std::uint16_t>(firstKey + i * 0x1111), 16));
    return records;
}

// ---- the unit --------------------------------------------------------------------------

struct UnitScript {
    std::uint8_t address = 0x01;
    Text marker = "\xFF\xFF";
    Text replyMarker{};            // marker of the replies when it differs
    int reportedType = 1;          // unit type code in the identify reply; -1: no reply
    bool bootloaderActive = false; // the bootloader already answers the connect command
    bool enterBootloader = true;   // a bootloader request starts the bootloader
    std::optional<Text> serial{};  // answer to the serial query (four bytes)
    std::map<int, std::vector<std::uint8_t>> eraseStatuses{{1, {3}}, {2, {3}}};
    std::uint32_t eraseSpacingMs = 50;
    int splitConnectAnswers = 0; // the first n connect answers come in two parts
    int connectAnswers = 1000;   // connect commands answered at most
    bool answerStartProgramming = true;
    bool answerEndProgramming = true;
    bool answerRecords = true;
    bool answerVerification = true;
    std::set<std::uint16_t> duplicateAck{}; // record addresses acknowledged twice
    std::set<std::uint16_t> dropFirstAck{}; // record addresses whose first frame goes unanswered
    std::uint32_t latencyMs = 2;
};

enum class FrameKind {
    Identify,
    BootRequest,
    BootRequestType0,
    SerialQuery,
    Connect,
    Erase1,
    Erase2,
    StartProgramming,
    EndProgramming,
    StartApplication,
    Record,
    Verify,
    Other
};

struct HostFrame {
    std::uint32_t at = 0;
    Text bytes;
    FrameKind kind = FrameKind::Other;
    std::uint16_t recordAddress = 0;
};

class ScriptedUnit final : public sim::UnitPeer {
public:
    explicit ScriptedUnit(UnitScript script = {}) : script(std::move(script)) {}

    void OnHostBytes(const Text& bytes, std::uint32_t now, const sim::LineSettings&) override {
        HostFrame frame{now, bytes, FrameKind::Other, 0};
        if (bytes.rfind(Text("\xEE\xEE", 2), 0) == 0 && bytes.size() >= 6)
            OnScrambled(frame);
        else if (bytes.rfind(script.marker, 0) == 0 && bytes.size() >= 5)
            OnPlain(frame);
        frames.push_back(frame);
    }

    Text TakeUnitBytes(std::uint32_t now) override {
        Text out;
        std::vector<Pending> later;
        for (Pending& p : pending_) {
            if (p.due > now) {
                later.push_back(p);
                continue;
            }
            out += p.eraseStatus ? ScrambleStatus(ByteAt(p.bytes, 0)) : p.bytes;
        }
        pending_ = std::move(later);
        return out;
    }

    std::size_t Count(FrameKind kind) const {
        std::size_t n = 0;
        for (const HostFrame& f : frames)
            n += f.kind == kind ? 1 : 0;
        return n;
    }
    std::vector<const HostFrame*> Of(FrameKind kind) const {
        std::vector<const HostFrame*> r;
        for (const HostFrame& f : frames)
            if (f.kind == kind) r.push_back(&f);
        return r;
    }
    std::vector<std::uint16_t> RecordOrder(FrameKind kind) const {
        std::vector<std::uint16_t> order;
        for (const HostFrame* f : Of(kind))
            order.push_back(f->recordAddress);
        return order;
    }

    UnitScript script;
    std::vector<HostFrame> frames;
    bool inBootloader = false;
    std::map<std::uint16_t, Text> memory; // programmed records by address (descrambled)

private:
    struct Pending {
        std::uint32_t due;
        Text bytes;
        bool eraseStatus = false;
    };

    void Answer(std::uint32_t now, const Text& bytes, std::uint32_t delay = 0) {
        pending_.push_back({now + script.latencyMs + delay, bytes});
    }

    Text Plain(std::uint8_t command, const Text& data) const {
        Text reply = script.replyMarker.empty() ? script.marker : script.replyMarker;
        reply += AsChar(script.address);
        reply += AsChar(static_cast<std::uint8_t>(data.size() + 2));
        reply += AsChar(command);
        reply += data;
        reply += AsChar(SumOf(reply, 0, reply.size()));
        return reply;
    }

    void OnPlain(HostFrame& frame) {
        const Text& b = frame.bytes;
        if (b == Text("\xFF\xFF\x02\x0E\x0E", 5)) {
            frame.kind = FrameKind::BootRequestType0;
            if (script.enterBootloader) inBootloader = true;
            return;
        }
        if (ByteAt(b, 2) != script.address || inBootloader) return;
        switch (ByteAt(b, 4)) {
        case 0x80:
            frame.kind = FrameKind::Identify;
            if (script.reportedType >= 0)
                Answer(
                    frame.at,
                    Plain(0x80, Text(1, AsChar(static_cast<std::uint8_t>(script.reportedType)))));
            break;
        case 0x04:
            frame.kind = FrameKind::BootRequest;
            if (script.enterBootloader) inBootloader = true;
            break;
        case 0x05:
            frame.kind = FrameKind::SerialQuery;
            if (script.serial) Answer(frame.at, Plain(0x05, *script.serial));
            break;
        default:
            break;
        }
    }

    void OnScrambled(HostFrame& frame) {
        const Text& b = frame.bytes;
        const auto key = static_cast<std::uint16_t>(ByteAt(b, 3) << 8 | ByteAt(b, 4));
        Text payload;
        UnscrambleText(b.substr(5), 1, payload, key);
        Text rescrambled;
        const std::uint16_t continued = ScrambleText(payload, 1, rescrambled, key);
        if (payload.size() >= 5) {
            OnRecord(frame, payload, key);
            return;
        }
        const bool forUs = ByteAt(b, 2) == script.address;
        const bool listening = forUs && (inBootloader || script.bootloaderActive);
        if (payload == "\x7B\x3D\x19") {
            frame.kind = FrameKind::Connect;
            if (!listening || script.connectAnswers <= 0) return;
            --script.connectAnswers;
            const Text answer = ScrambledAnswer(script.address, "\x19\x3D\x7B", continued);
            if (script.splitConnectAnswers > 0) {
                --script.splitConnectAnswers;
                Answer(frame.at, answer.substr(0, 3));
                Answer(frame.at, answer.substr(3), 100);
            } else {
                Answer(frame.at, answer);
            }
        } else if (payload == "\x01" || payload == "\x02") {
            const int block = payload == "\x01" ? 1 : 2;
            frame.kind = block == 1 ? FrameKind::Erase1 : FrameKind::Erase2;
            if (!listening) return;
            eraseKey_ = continued;
            if (!eraseStarted_.insert(block).second) return; // a resend: only the chain restarts
            std::uint32_t delay = 0;
            for (std::uint8_t status : script.eraseStatuses[block]) {
                delay += script.eraseSpacingMs;
                pending_.push_back({frame.at + delay, Text(1, AsChar(status)), true});
            }
        } else if (payload == "\x12") {
            frame.kind = FrameKind::StartProgramming;
            if (listening && script.answerStartProgramming)
                Answer(frame.at, ScrambledAnswer(script.address, "\x12", continued));
        } else if (payload == "EN") {
            frame.kind = FrameKind::EndProgramming;
            if (listening && script.answerEndProgramming)
                Answer(frame.at, ScrambledAnswer(script.address, "EN", continued));
        } else if (payload == "\x10") {
            frame.kind = FrameKind::StartApplication;
        }
    }

    void OnRecord(HostFrame& frame, const Text& record, std::uint16_t key) {
        const bool verify = ByteAt(record, 0) == kVerifyCommand;
        frame.kind = verify ? FrameKind::Verify : FrameKind::Record;
        const auto address = static_cast<std::uint16_t>(ByteAt(record, 1) << 8 | ByteAt(record, 2));
        frame.recordAddress = address;
        if (!(inBootloader || script.bootloaderActive)) return;
        if (!verify) {
            if (!script.answerRecords) return;
            if (script.dropFirstAck.erase(address) > 0) return;
            memory[address] = record;
            const Text ack = ScrambledAnswer(script.address, Text("\x4F\x01", 2), key);
            Answer(frame.at, script.duplicateAck.count(address) ? ack + ack : ack);
            return;
        }
        const auto it = memory.find(address);
        const bool same = it != memory.end() && it->second.substr(1, it->second.size() - 2) ==
                                                    record.substr(1, record.size() - 2);
        if (script.answerVerification && same)
            Answer(frame.at, ScrambledAnswer(script.address, Text("\x13\x00", 2), key));
    }

    Text ScrambleStatus(std::uint8_t status) {
        Text scrambled;
        const std::uint16_t next = ScrambleText(Text(1, AsChar(status)), 1, scrambled, eraseKey_);
        if (status == 1 || status == 2) eraseKey_ = next;
        return Text("\xEE\xEE", 2) + AsChar(script.address) + scrambled;
    }

    std::vector<Pending> pending_;
    std::uint16_t eraseKey_ = 0;
    std::set<int> eraseStarted_;
};

// ---- the wiring ------------------------------------------------------------------------

struct Rig : testing::VirtualLine<RecordingView> {
    explicit Rig(UnitScript script = {}, TBaudRate baud = cbr38400)
        : VirtualLine(20261208), unit(std::move(script)) {
        records = MakeRecords(4);
        port.SetPeer(&unit);
        port.SetBaudRate(baud);
        port.Open();
        LimitRun(kRunLimitMs);
    }

    // Runs a process with the window's unit type; the programmer stays for inspection.
    TS19_WR& Run(int unitType, std::uint32_t address = 0x01) {
        view.unitType = unitType;
        programmer.emplace(context, address);
        StartClock();
        programmer->StartProcess(unitType);
        return *programmer;
    }

    // Calls fn once, at the first message processing that finds the process in the step.
    void AtStep(int step, std::function<void()> fn) {
        auto done = std::make_shared<bool>(false);
        pump.AddHook([this, step, fn, done] {
            if (*done || !programmer || programmer->CurrentStep() != step) return;
            *done = true;
            fn();
        });
    }

    // Calls fn once, from the message processing of the first log line that starts with
    // the prefix while the process is in the step (the window's log line pumps messages).
    void AtLogLine(int step, const Text& prefix, std::function<void()> fn) {
        view.pumpInLogLine = true;
        auto done = std::make_shared<bool>(false);
        pump.AddHook([this, step, prefix, fn, done] {
            if (*done || !programmer || programmer->CurrentStep() != step || view.log.empty() ||
                view.log.back().rfind(prefix, 0) != 0)
                return;
            *done = true;
            fn();
        });
    }

    static constexpr std::uint32_t kRunLimitMs = 30 * 60 * 1000;

    ScriptedUnit unit;
    std::optional<TS19_WR> programmer;
};

} // namespace tarnik::test
