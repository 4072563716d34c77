#include "sim/network_unit.h"

#include "sim/record_check.h"
#include "sim/unit_codec.h"

namespace tarnik::sim {

namespace {

constexpr std::uint8_t kProgramRecord = 0x11;

const Text kMarkerEE = Bytes({0xEE, 0xEE});
const Text kMarkerFF = Bytes({0xFF, 0xFF});
const Text kIse = "ISE";
const Text kIst = "IST";

std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10);
}

// The sum of bytes 2..L-1 of a network-module record is zero.
bool NetChecksumOk(const Text& plain) {
    return plain.size() > 2 && SumOf(plain.substr(2)) == 0;
}

bool SameLine(const LineSettings& line, const UnitLine& unit) {
    return line.baud == unit.baud && (line.stopbits == sb1_0) == (unit.stopbits == sb1_0);
}

} // namespace

NetworkUnit::NetworkUnit(const UnitOptions& options)
    : UnitModel(options), bootloader_(options.faults.bootloaderActive) {}

UnitLine NetworkUnit::ListeningLine() const {
    return bootloader_ ? NetworkBootloaderLine() : NetworkApplicationLine(Options().unitType);
}

bool NetworkUnit::LineExcused(const LineSettings& line) const {
    // A unit that never answers tells the host nothing of its state: once its tries at one
    // speed have timed out, its tries at the other are in order.
    if (Silent()) return true;
    // A frame read together with the restart command may have left before the host's switch
    // to the bootloader's speed: a pseudo-terminal cannot tell the two apart.
    if (bootloader_ && restartFrameMs_ && *restartFrameMs_ == FrameTime() &&
        SameLine(line, NetworkApplicationLine(Options().unitType)))
        return true;
    // The host cannot know that the application is not running: its tries at the
    // application's speed are in order.
    return bootloader_ && Options().faults.bootloaderActive && !contacted_ &&
           SameLine(line, NetworkApplicationLine(Options().unitType));
}

bool NetworkUnit::SwitchExpected(const LineSettings& line) const {
    // The restart command is followed at once by the switch to the bootloader's speed.
    return !bootloader_ && SameLine(line, NetworkBootloaderLine());
}

UnitModel::Parse NetworkUnit::ParseOne() {
    const Text& in = In();
    const auto hit = FindFirst(in, {kMarkerEE, kMarkerFF, kIse, kIst});
    if (!hit) {
        // The last bytes may be the start of a frame or of a handshake with its address.
        if (in.size() > 3) SkipJunk(in.size() - 3);
        return Parse::NeedMore;
    }
    const bool handshake = hit->marker == kIse || hit->marker == kIst;
    const std::size_t start = handshake && hit->position > 0 ? hit->position - 1 : hit->position;
    if (start > 0) {
        SkipJunk(start);
        return Parse::Consumed;
    }
    if (handshake) return ParseHandshake(hit->position, hit->marker == kIst);
    return ByteAt(in, 0) == 0xEE ? ParseScrambled() : ParsePlain();
}

bool NetworkUnit::FrameAfterEnd(bool repeatedEnd) {
    if (!Report().complete) return false;
    if (repeatedEnd) return false;
    Violate("frame after the end of programming was answered");
    Describe(Report().frames.back().what + " (ignored: session over)");
    return true;
}

// ---- the application ----

UnitModel::Parse NetworkUnit::ParseHandshake(std::size_t position, bool ist) {
    const std::string name = ist ? "handshake IST" : "handshake ISE";
    if (position == 0) {
        TakeFrame(3, name);
        Violate(name + " without the address byte before it");
        return Parse::Consumed;
    }
    const Frame frame = TakeFrame(4, name);
    // The host repeats its handshake until it sees the answer, so a repeat at the
    // application's speed is in order while a slow answer is on its way, even though the unit
    // has restarted meanwhile; once the host has spoken at the bootloader's speed it is not.
    if (bootloader_ && handshakeAnswered_ && !hostAtBootloaderSpeed_ &&
        SameLine(frame.line, NetworkApplicationLine(Options().unitType))) {
        Describe(name + " (repeated before the answer came: bootloader running)");
        return Parse::Consumed;
    }
    if (FrameAfterEnd(false) || !LineOk(frame)) return Parse::Consumed;
    const int type = Options().unitType;
    if ((type == 9 && ist) || (type == 15 && !ist) || type == 4) {
        Violate(name + " sent to a unit of type " + std::to_string(type));
        Describe(name + " (ignored: not this unit's handshake)");
        return Parse::Consumed;
    }
    if (ByteAt(frame.bytes, 0) != Address())
        Violate(name + " for address " + HexByte(ByteAt(frame.bytes, 0)) +
                ", the unit's address is " + HexByte(Address()));
    if (bootloader_) {
        Describe(name + " (no answer: bootloader running)");
        return Parse::Consumed;
    }
    // The unit answers with its own address, then restarts into its bootloader.
    Answer(Text(1, AsChar(AnswerAddress())) + (ist ? "ist" : "ise"));
    handshakeAnswered_ = true;
    bootloader_ = true;
    contacted_ = true;
    return Parse::Consumed;
}

UnitModel::Parse NetworkUnit::ParsePlain() {
    const Text& in = In();
    if (in.size() < 5) return Parse::NeedMore;
    const std::size_t length = ByteAt(in, 3);
    if (length < 2 || length > 130) {
        SkipJunk(2);
        return Parse::Consumed;
    }
    if (in.size() < length + 4) return Parse::NeedMore;
    const std::uint8_t command = ByteAt(in, 4);
    const char* name = command == 0x80   ? "identify query"
                       : command == 0x04 ? "restart command"
                                         : "plain frame with an unknown command";
    const Frame frame = TakeFrame(length + 4, name);
    if (FrameAfterEnd(false) || !PlainSumOk(frame)) return Parse::Consumed;
    if (!LineOk(frame) || !AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    if (bootloader_) {
        Describe(std::string(name) + " (no answer: bootloader running)");
        return Parse::Consumed;
    }
    if (command == 0x80) {
        OnIdentify();
    } else if (command == 0x04) {
        restartFrameMs_ = frame.timeMs;
        OnRestart();
    } else {
        Violate("plain frame with the unknown command " + HexByte(command));
    }
    return Parse::Consumed;
}

void NetworkUnit::OnIdentify() {
    if (Options().faults.wrongType) foreignTypeReported_ = true;
    const auto& v = Options().version;
    Text data = Bytes({ReportedTypeCode(), v[0], v[1], v[2]});
    if (const auto& date = Options().date) {
        data +=
            Bytes({Bcd(date->day), Bcd(date->month), Bcd(date->year / 100), Bcd(date->year % 100)});
    }
    Answer(PlainFrame(0xFF, AnswerAddress(), 0x80, data));
}

void NetworkUnit::OnRestart() {
    if (foreignTypeReported_) Violate("restart command to a unit that reported another unit type");
    bootloader_ = true;
    contacted_ = true;
}

// ---- the bootloader ----

bool NetworkUnit::LooksLikeRecord(std::uint16_t key, std::uint8_t firstByte) const {
    if (firstByte == kProgramRecord) return true;
    const RecordList* image = Image();
    if (!image || !InRecordPhase()) return false;
    return ImageRecordStartsWith(*image, Report().records.size(), key, firstByte);
}

UnitModel::Parse NetworkUnit::ParseScrambled() {
    const Text& in = In();
    if (in.size() < kScrambledHeader + 1) return Parse::NeedMore;
    const std::uint16_t key = ScrambledKey();
    const std::uint8_t first = ByteAt(DescrambledPayload(1), 0);
    if (LooksLikeRecord(key, first)) return TakeRecord(key);
    switch (first) {
    case 0x7B:
        if (in.size() < kScrambledHeader + 3) return Parse::NeedMore;
        if (DescrambledPayload(3) == Bytes({0x7B, 0x3D, 0x19}))
            return TakeCommand(Command::Connect, 3);
        break;
    case 0x00:
        return TakeCommand(Command::BootIdentification, 1);
    case 0x01:
        return TakeCommand(Command::Erase, 1);
    case 0x10:
        return TakeCommand(Command::EndProgramming, 1);
    default:
        break;
    }
    if (InRecordPhase()) return TakeRecord(key);
    TakeUnknownScrambled();
    if (!FrameAfterEnd(false)) Violate(UnknownScrambledCommand(first));
    return Parse::Consumed;
}

UnitModel::Parse NetworkUnit::TakeCommand(Command command, std::size_t payloadLength) {
    static const char* const kNames[] = {"connect command", "boot identification", "erase command",
                                         "end of programming"};
    const std::string name = kNames[static_cast<int>(command)];
    const std::uint16_t continued = ContinuedKey(payloadLength);
    const Frame frame = TakeFrame(kScrambledHeader + payloadLength, name);
    if (FrameAfterEnd(command == Command::EndProgramming) || !LineOk(frame)) return Parse::Consumed;
    if (!bootloader_) {
        Describe(name + " (no answer: application running)");
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    contacted_ = true;
    hostAtBootloaderSpeed_ = true;
    OnCommand(command, continued);
    return Parse::Consumed;
}

UnitModel::Parse NetworkUnit::TakeRecord(std::uint16_t key) {
    const Text& in = In();
    if (in.size() < kScrambledHeader + 3) return Parse::NeedMore;
    const Text head = DescrambledPayload(3);
    const std::size_t length = ByteAt(head, 2) + std::size_t{7};
    if (in.size() < kScrambledHeader + length) return Parse::NeedMore;
    const Text plain = DescrambledPayload(length);
    const Frame frame = TakeFrame(kScrambledHeader + length, "record");
    if (FrameAfterEnd(false) || !LineOk(frame)) return Parse::Consumed;
    if (!bootloader_) {
        Describe("record (ignored: bootloader not running)");
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    OnRecord(frame, key, plain);
    return Parse::Consumed;
}

void NetworkUnit::OnCommand(Command command, std::uint16_t continuedKey) {
    switch (command) {
    case Command::Connect:
        AnswerScrambled(Bytes({0x19, 0x3D, 0x7B}), continuedKey);
        break;
    case Command::BootIdentification:
        OnBootIdentification(continuedKey);
        break;
    case Command::Erase:
        OnErase(continuedKey);
        break;
    case Command::EndProgramming:
        OnEndProgramming(continuedKey);
        break;
    }
}

void NetworkUnit::OnBootIdentification(std::uint16_t key) {
    if (Options().faults.wrongType) foreignTypeReported_ = true;
    std::uint8_t type = ReportedTypeCode();
    if (Options().bootTypeBit7) type |= 0x80;
    const auto& v = Options().version;
    Text payload = Bytes({type, v[0], v[1], v[2], 0x00, 0x00});
    // Types 9 and 15 answer with one byte more.
    if (Options().unitType != 4) payload.push_back('\0');
    bootIdentified_ = true;
    AnswerScrambled(payload, key);
}

void NetworkUnit::OnErase(std::uint16_t key) {
    if (!bootIdentified_) Violate("erase command before the boot identification");
    if (foreignTypeReported_) Violate("erase command to a unit that reported another unit type");
    if (!Report().records.empty()) Violate("erase command after records were sent");
    if (Options().faults.eraseFail) {
        // The loader knows no failure answer to the erase command, and its tolerant
        // acknowledgment test could take a failure byte for the answer 02: a unit whose
        // erasure fails stays silent, so the loader times out.
        Describe(Report().frames.back().what + " (no answer: erasure failed)");
        return;
    }
    AnswerScrambled(Bytes({0x02}), key, Options().eraseStepMs);
    erased_ = true;
}

void NetworkUnit::OnEndProgramming(std::uint16_t key) {
    if (!Report().complete) {
        if (const RecordList* image = Image(); image && Report().records.size() < image->size())
            Violate("end of programming after " + std::to_string(Report().records.size()) + " of " +
                    std::to_string(image->size()) + " records");
        if (Report().records.empty()) Violate("end of programming without any record");
    }
    AnswerScrambled(Bytes({0x10}), key);
    Complete("the end of programming was answered");
}

void NetworkUnit::CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                                   const TLDane& expected) const {
    CompareRecord(entry, received.key, received.plain, expected, received.pass, false);
}

void NetworkUnit::OnRecord(const Frame& frame, std::uint16_t key, const Text& plain) {
    if (!erased_) Violate("record before the memory was erased");
    ReceivedRecord received;
    received.plain = plain;
    received.identity = frame.bytes;
    received.address = WordAt(plain, 4);
    received.key = key;
    received.checksumOk = NetChecksumOk(plain);
    if (LostOnLine(received)) return;
    const RecordEntry& entry = RegisterRecord(received).entry;
    if (RecordFaultStrikes(entry) || !entry.checksumOk) return;
    const RecordList* image = Image();
    const bool last = image && static_cast<std::size_t>(entry.index) + 1 == image->size();
    const Text payload = Bytes({static_cast<std::uint8_t>(last ? 0x01 : 0x12)});
    AnswerScrambled(payload, key);
    if (const auto again = Options().faults.recordAnswerAgainMs)
        AnswerAgain(ScrambledAnswerBytes(payload, key), *again);
}

} // namespace tarnik::sim
