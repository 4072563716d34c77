#include "sim/main_family_unit.h"

#include "sim/record_check.h"
#include "sim/unit_codec.h"

namespace tarnik::sim {

namespace {

constexpr std::uint8_t kScrambledMarker = 0xEE;
constexpr std::uint8_t kProgramRecord = 0x11;
constexpr std::uint8_t kVerifyRecord = 0x13;

const Text kMarkerEE = Bytes({0xEE, 0xEE});
const Text kMarkerFF = Bytes({0xFF, 0xFF});
const Text kMarkerDD = Bytes({0xDD, 0xDD});

// The bytes a verification compares: address, count and data, without command and checksum.
Text Contents(const Text& plain) {
    return plain.size() > 2 ? plain.substr(1, plain.size() - 2) : Text();
}

} // namespace

MainFamilyUnit::MainFamilyUnit(const UnitOptions& options)
    : UnitModel(options),
      mode_(options.faults.bootloaderActive ? Mode::Bootloader : Mode::Application) {}

UnitModel::Parse MainFamilyUnit::ParseOne() {
    const Text& in = In();
    const auto hit = FindFirst(in, {kMarkerEE, kMarkerFF, kMarkerDD});
    if (!hit) {
        const std::uint8_t last = ByteAt(in, in.size() - 1);
        const bool markerStart = last == 0xEE || last == 0xFF || last == 0xDD;
        SkipJunk(markerStart ? in.size() - 1 : in.size());
        return Parse::NeedMore;
    }
    if (hit->position > 0) {
        SkipJunk(hit->position);
        return Parse::Consumed;
    }
    return ByteAt(in, 0) == kScrambledMarker ? ParseScrambled() : ParsePlain();
}

bool MainFamilyUnit::InBootloader() {
    if (mode_ == Mode::Rebooting && static_cast<std::int32_t>(FrameTime() - bootReadyMs_) >= 0)
        mode_ = Mode::Bootloader;
    return mode_ == Mode::Bootloader;
}

bool MainFamilyUnit::FrameAfterEnd() {
    if (!started_) return false;
    Violate("frame after the start of the application");
    Describe(Report().frames.back().what + " (ignored: session over)");
    return true;
}

// ---- plain frames (the unit's application) ----

UnitModel::Parse MainFamilyUnit::ParsePlain() {
    const Text& in = In();
    if (in.size() < 5) return Parse::NeedMore;
    if (in.compare(0, 5, Bytes({0xFF, 0xFF, 0x02, 0x0E, 0x0E})) == 0) {
        const Frame frame = TakeFrame(5, "bootloader request FF FF 02 0E 0E");
        if (FrameAfterEnd() || !LineOk(frame)) return Parse::Consumed;
        if (Options().unitType != 0) {
            Violate("the bootloader request of unit type 0 sent to a unit of type " +
                    std::to_string(Options().unitType));
            return Parse::Consumed;
        }
        if (mode_ == Mode::Application) OnBootloaderRequest();
        return Parse::Consumed;
    }
    const std::size_t length = ByteAt(in, 3);
    if (length < 2 || length > 130) {
        SkipJunk(2);
        return Parse::Consumed;
    }
    if (in.size() < length + 4) return Parse::NeedMore;
    const Frame frame = TakeFrame(length + 4, "plain frame");
    if (FrameAfterEnd() || !PlainSumOk(frame)) return Parse::Consumed;
    OnPlain(frame);
    return Parse::Consumed;
}

void MainFamilyUnit::OnPlain(const Frame& frame) {
    const std::uint8_t command = ByteAt(frame.bytes, 4);
    const char* name = command == 0x80   ? "identify query"
                       : command == 0x04 ? "bootloader request"
                       : command == 0x05 ? "serial query"
                                         : "plain frame with an unknown command";
    Describe(name);
    if (ByteAt(frame.bytes, 0) != Marker()) {
        Violate(std::string(name) + " marked " + HexByte(ByteAt(frame.bytes, 0)) + " " +
                HexByte(ByteAt(frame.bytes, 0)) + "; a unit of type " +
                std::to_string(Options().unitType) + " uses " + HexByte(Marker()) + " " +
                HexByte(Marker()));
        Describe(std::string(name) + " (ignored: wrong marker)");
        return;
    }
    if (!LineOk(frame) || !AddressOk(ByteAt(frame.bytes, 2))) return;
    if (mode_ != Mode::Application) {
        Describe(std::string(name) + " (no answer: bootloader running)");
        return;
    }
    switch (command) {
    case 0x80:
        OnIdentify();
        break;
    case 0x05:
        Answer(PlainFrame(Marker(), AnswerAddress(), 0x05,
                          Text(Options().serial.begin(), Options().serial.end())));
        break;
    case 0x04:
        if (Options().unitType == 0)
            Violate("a unit of type 0 expects the bootloader request FF FF 02 0E 0E");
        else
            OnBootloaderRequest();
        break;
    default:
        Violate("plain frame with the unknown command " + HexByte(command));
        break;
    }
}

void MainFamilyUnit::OnIdentify() {
    if (Options().faults.wrongType) foreignTypeReported_ = true;
    Answer(PlainFrame(Marker(), AnswerAddress(), 0x80, Text(1, AsChar(ReportedTypeCode()))));
}

void MainFamilyUnit::OnBootloaderRequest() {
    if (foreignTypeReported_)
        Violate("bootloader request to a unit that reported another unit type");
    mode_ = Mode::Rebooting;
    bootReadyMs_ = FrameTime() + Options().rebootMs;
}

// ---- scrambled frames (the bootloader) ----

bool MainFamilyUnit::InRecordPhase() const {
    return (programmingOpen_ && !programmingClosed_) || (programmingClosed_ && !started_);
}

bool MainFamilyUnit::LooksLikeRecord(std::uint16_t key, std::uint8_t firstByte) const {
    if (firstByte == kProgramRecord || firstByte == kVerifyRecord) return true;
    const RecordList* image = Image();
    if (!image || !InRecordPhase()) return false;
    const std::size_t next =
        programmingClosed_ ? Report().verifications.size() : Report().records.size();
    return ImageRecordStartsWith(*image, next, key, firstByte);
}

UnitModel::Parse MainFamilyUnit::ParseScrambled() {
    const Text& in = In();
    if (in.size() < kScrambledHeader + 1) return Parse::NeedMore;
    const std::uint16_t key = ScrambledKey();
    const std::uint8_t first = ByteAt(DescrambledPayload(1), 0);
    if (LooksLikeRecord(key, first)) return TakeRecord(key, first == kVerifyRecord);
    const auto payloadIs = [&](const Text& expected) {
        return in.size() >= kScrambledHeader + expected.size() &&
               DescrambledPayload(expected.size()) == expected;
    };
    switch (first) {
    case 0x7B:
        if (in.size() < kScrambledHeader + 3) return Parse::NeedMore;
        if (payloadIs(Bytes({0x7B, 0x3D, 0x19}))) return TakeCommand(Command::Connect, 3);
        break;
    case 0x45:
        if (in.size() < kScrambledHeader + 2) return Parse::NeedMore;
        if (payloadIs(Bytes({0x45, 0x4E}))) return TakeCommand(Command::EndProgramming, 2);
        break;
    case 0x01:
        return TakeCommand(Command::Erase1, 1);
    case 0x02:
        return TakeCommand(Command::Erase2, 1);
    case 0x12:
        return TakeCommand(Command::StartProgramming, 1);
    case 0x10:
        return TakeCommand(Command::StartApp, 1);
    default:
        break;
    }
    if (InRecordPhase()) return TakeRecord(key, false);
    // Nothing the bootloader knows: a wrong key, or a frame of another kind. Skip to the
    // next marker.
    TakeUnknownScrambled();
    if (!FrameAfterEnd()) Violate(UnknownScrambledCommand(first));
    return Parse::Consumed;
}

UnitModel::Parse MainFamilyUnit::TakeCommand(Command command, std::size_t payloadLength) {
    static const char* const kNames[] = {"connect command",    "erase block 1",
                                         "erase block 2",      "start of programming",
                                         "end of programming", "start of the application"};
    const std::string name = kNames[static_cast<int>(command)];
    const std::uint16_t continued = ContinuedKey(payloadLength);
    const Frame frame = TakeFrame(kScrambledHeader + payloadLength, name);
    if (FrameAfterEnd() || !LineOk(frame)) return Parse::Consumed;
    if (!InBootloader()) {
        Describe(name + (mode_ == Mode::Rebooting ? " (ignored: rebooting)"
                                                  : " (no answer: application running)"));
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    OnCommand(command, continued);
    return Parse::Consumed;
}

UnitModel::Parse MainFamilyUnit::TakeRecord(std::uint16_t key, bool verification) {
    const Text& in = In();
    if (in.size() < kScrambledHeader + 4) return Parse::NeedMore;
    const Text head = DescrambledPayload(4);
    const std::size_t count = ByteAt(head, 3) == 0 ? 256 : ByteAt(head, 3);
    const std::size_t length = count + 5;
    if (in.size() < kScrambledHeader + length) return Parse::NeedMore;
    const Text plain = DescrambledPayload(length);
    const Frame frame =
        TakeFrame(kScrambledHeader + length, verification ? "verification record" : "record");
    if (FrameAfterEnd() || !LineOk(frame)) return Parse::Consumed;
    if (!InBootloader()) {
        Describe(Report().frames.back().what + " (ignored: bootloader not running)");
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    if (verification)
        OnVerification(frame, key, plain);
    else
        OnRecord(frame, key, plain);
    return Parse::Consumed;
}

void MainFamilyUnit::OnCommand(Command command, std::uint16_t continuedKey) {
    if (command != Command::Connect && !connected_)
        Violate(Report().frames.back().what + " before the connect command was answered");
    switch (command) {
    case Command::Connect:
        connected_ = true;
        AnswerScrambled(Bytes({0x19, 0x3D, 0x7B}), continuedKey);
        break;
    case Command::Erase1:
        OnErase(1, continuedKey);
        break;
    case Command::Erase2:
        OnErase(2, continuedKey);
        break;
    case Command::StartProgramming:
        OnStartProgramming(continuedKey);
        break;
    case Command::EndProgramming:
        OnEndProgramming(continuedKey);
        break;
    case Command::StartApp:
        OnStartApplication();
        break;
    }
}

void MainFamilyUnit::OnErase(int block, std::uint16_t key) {
    if (block == 2 && !block1Erased_) Violate("block 2 erased before block 1");
    if (programmingOpen_) Violate("erase after the start of programming");
    const UnitFaults& faults = Options().faults;
    Text statuses(faults.eraseProgress.begin(), faults.eraseProgress.end());
    statuses.push_back(AsChar(faults.eraseFail ? 0x20 : 0x03));
    // Each status is its own answer; the key runs on from one status to the next, as the
    // host advances it after every progress status.
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const Text scrambled = ScrambleRun(statuses.substr(i, 1), key);
        Answer(kMarkerEE + Text(1, AsChar(AnswerAddress())) + scrambled,
               static_cast<std::uint32_t>(i + 1) * Options().eraseStepMs);
    }
    if (!faults.eraseFail) (block == 1 ? block1Erased_ : block2Erased_) = true;
}

void MainFamilyUnit::OnStartProgramming(std::uint16_t key) {
    if (!block1Erased_ || !block2Erased_)
        Violate("start of programming before both memory blocks were erased");
    if (programmingClosed_) Violate("start of programming after the end of programming");
    programmingOpen_ = true;
    AnswerScrambled(Bytes({0x12}), key);
}

void MainFamilyUnit::OnEndProgramming(std::uint16_t key) {
    if (!programmingOpen_) Violate("end of programming before the start of programming");
    if (const RecordList* image = Image(); image && Report().records.size() < image->size())
        Violate("end of programming after " + std::to_string(Report().records.size()) + " of " +
                std::to_string(image->size()) + " records");
    programmingClosed_ = true;
    AnswerScrambled(Bytes({0x45, 0x4E}), key);
}

void MainFamilyUnit::OnStartApplication() {
    if (!programmingClosed_) Violate("application started before the end of programming");
    if (verificationFailed_) Violate("application started although verification failed");
    const std::size_t verified = Report().verifications.size();
    if (const RecordList* image = Image(); image && verified > 0 && verified < image->size())
        Violate("application started after " + std::to_string(verified) + " of " +
                std::to_string(image->size()) + " records were verified");
    started_ = true;
    Complete("the application was started");
}

// ---- records ----

UnitModel::ReceivedRecord MainFamilyUnit::Received(RecordText pass, const Frame& frame,
                                                   std::uint16_t key, const Text& plain) {
    ReceivedRecord received;
    received.pass = pass;
    received.plain = plain;
    received.identity = frame.bytes;
    received.address = WordAt(plain, 1);
    received.key = key;
    received.checksumOk = EndsWithSum(plain);
    return received;
}

void MainFamilyUnit::CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                                      const TLDane& expected) const {
    CompareRecord(entry, received.key, received.plain, expected, received.pass, true);
}

void MainFamilyUnit::OnRecord(const Frame& frame, std::uint16_t key, const Text& plain) {
    if (!programmingOpen_) Violate("record before the start of programming");
    if (programmingClosed_) Violate("record after the end of programming");
    const auto [entry, repeat] =
        RegisterRecord(Received(RecordText::Programming, frame, key, plain));
    if (!repeat) programmed_.push_back(plain);
    if (RecordFaultStrikes(entry)) return;
    if (entry.checksumOk) AnswerScrambled(Bytes({0x4F, 0x01}), key);
}

void MainFamilyUnit::OnVerification(const Frame& frame, std::uint16_t key, const Text& plain) {
    if (!programmingClosed_) Violate("verification record before the end of programming");
    const auto [entry, repeat] =
        RegisterRecord(Received(RecordText::Verification, frame, key, plain));
    // The unit compares with what it was programmed with.
    const auto index = static_cast<std::size_t>(entry.index);
    const bool same = index < programmed_.size() && Contents(programmed_[index]) == Contents(plain);
    if (!same && !repeat)
        Violate("verification record " + std::to_string(entry.index) +
                " differs from the record programmed");
    if (Options().faults.verifyMismatch == entry.index || !same || !entry.checksumOk) {
        verificationFailed_ = true;
        AnswerScrambled(Bytes({0x13, 0x01}), key);
        return;
    }
    AnswerScrambled(Bytes({0x13, 0x00}), key);
}

} // namespace tarnik::sim
