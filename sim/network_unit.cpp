#include "sim/network_unit.h"

#include "sim/record_check.h"
#include "sim/unit_codec.h"

namespace tarnik::sim {

namespace {

constexpr std::uint8_t kProgramRecord = 0x11;
constexpr std::size_t kHeader = 5; // marker, address, key high, key low

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

bool NetworkUnit::AddressOk(std::uint8_t address) {
    if (address == Address()) return true;
    Violate("frame for address " + HexByte(address) + ", the unit's address is " +
            HexByte(Address()));
    Describe(Report().frames.back().what + " (ignored: other address)");
    return false;
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
    Answer(Text(1, AsChar(Address())) + (ist ? "ist" : "ise"));
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
    const bool sumOk = SumOf(in.substr(0, length + 3)) == ByteAt(in, length + 3);
    const std::uint8_t command = ByteAt(in, 4);
    const char* name = command == 0x80   ? "identify query"
                       : command == 0x04 ? "restart command"
                                         : "plain frame with an unknown command";
    const Frame frame = TakeFrame(length + 4, name);
    if (FrameAfterEnd(false)) return Parse::Consumed;
    if (!sumOk) {
        Violate("plain frame with a wrong sum byte");
        Describe("plain frame with a wrong sum byte (ignored)");
        return Parse::Consumed;
    }
    if (!LineOk(frame) || !AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    if (bootloader_) {
        Describe(std::string(name) + " (no answer: bootloader running)");
        return Parse::Consumed;
    }
    if (command == 0x80)
        OnIdentify();
    else if (command == 0x04)
        OnRestart();
    else
        Violate("plain frame with the unknown command " + HexByte(command));
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
    Answer(PlainFrame(0xFF, Address(), 0x80, data));
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
    const std::size_t next = Report().records.size();
    for (std::size_t i = next > 0 ? next - 1 : 0; i <= next && i < image->size(); ++i) {
        const TLDane& record = (*image)[i];
        if (record.key == key && !record.programmingText.empty() &&
            ByteAt(DescrambleStored(record.programmingText.substr(0, 1), key), 0) == firstByte)
            return true;
    }
    return false;
}

UnitModel::Parse NetworkUnit::ParseScrambled() {
    const Text& in = In();
    if (in.size() < kHeader + 1) return Parse::NeedMore;
    const auto key = static_cast<std::uint16_t>(ByteAt(in, 3) << 8 | ByteAt(in, 4));
    std::uint16_t k = key;
    const std::uint8_t first = ByteAt(DescrambleRun(in.substr(kHeader, 1), k), 0);
    if (LooksLikeRecord(key, first)) return TakeRecord(key);
    switch (first) {
    case 0x7B: {
        if (in.size() < kHeader + 3) return Parse::NeedMore;
        std::uint16_t pk = key;
        if (DescrambleRun(in.substr(kHeader, 3), pk) == Bytes({0x7B, 0x3D, 0x19}))
            return TakeCommand(Command::Connect, 3, key);
        break;
    }
    case 0x00:
        return TakeCommand(Command::BootIdentification, 1, key);
    case 0x01:
        return TakeCommand(Command::Erase, 1, key);
    case 0x10:
        return TakeCommand(Command::EndProgramming, 1, key);
    default:
        break;
    }
    if (InRecordPhase()) return TakeRecord(key);
    const std::size_t next = in.find(kMarkerEE, 2);
    TakeFrame(next == Text::npos ? in.size() : next, "scrambled frame with an unknown command");
    if (!FrameAfterEnd(false))
        Violate("scrambled frame that descrambles to no known command under its key (first "
                "byte " +
                HexByte(first) + "): a wrong key?");
    return Parse::Consumed;
}

UnitModel::Parse NetworkUnit::TakeCommand(Command command, std::size_t payloadLength,
                                          std::uint16_t key) {
    static const char* const kNames[] = {"connect command", "boot identification", "erase command",
                                         "end of programming"};
    const std::string name = kNames[static_cast<int>(command)];
    std::uint16_t continued = key;
    DescrambleRun(In().substr(kHeader, payloadLength), continued);
    const Frame frame = TakeFrame(kHeader + payloadLength, name);
    if (FrameAfterEnd(command == Command::EndProgramming) || !LineOk(frame)) return Parse::Consumed;
    if (!bootloader_) {
        Describe(name + " (no answer: application running)");
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    contacted_ = true;
    OnCommand(command, continued);
    return Parse::Consumed;
}

UnitModel::Parse NetworkUnit::TakeRecord(std::uint16_t key) {
    const Text& in = In();
    if (in.size() < kHeader + 3) return Parse::NeedMore;
    std::uint16_t k = key;
    const Text head = DescrambleRun(in.substr(kHeader, 3), k);
    const std::size_t length = ByteAt(head, 2) + std::size_t{7};
    if (in.size() < kHeader + length) return Parse::NeedMore;
    k = key;
    const Text plain = DescrambleRun(in.substr(kHeader, length), k);
    const Frame frame = TakeFrame(kHeader + length, "record");
    if (FrameAfterEnd(false) || !LineOk(frame)) return Parse::Consumed;
    if (!bootloader_) {
        Describe("record (ignored: bootloader not running)");
        return Parse::Consumed;
    }
    if (!AddressOk(ByteAt(frame.bytes, 2))) return Parse::Consumed;
    OnRecord(frame, key, plain);
    return Parse::Consumed;
}

void NetworkUnit::AnswerScrambled(const Text& payload, std::uint16_t key, std::uint32_t delayMs) {
    Answer(kMarkerEE + Text(1, AsChar(Address())) + ScrambleRun(payload, key), delayMs);
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
    const bool fail = Options().faults.eraseFail;
    AnswerScrambled(Bytes({static_cast<std::uint8_t>(fail ? 0x20 : 0x02)}), key,
                    Options().eraseStepMs);
    if (!fail) erased_ = true;
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

void NetworkUnit::OnRecord(const Frame& frame, std::uint16_t key, const Text& plain) {
    auto& records = MutableReport().records;
    if (!erased_) Violate("record before the memory was erased");
    const bool repeat = !records.empty() && frame.bytes == lastRecordFrame_;
    if (!repeat) {
        RecordEntry entry;
        entry.index = static_cast<int>(records.size());
        entry.address = static_cast<std::uint16_t>(ByteAt(plain, 4) << 8 | ByteAt(plain, 5));
        entry.key = key;
        entry.checksumOk = NetChecksumOk(plain);
        if (const RecordList* image = Image()) {
            if (static_cast<std::size_t>(entry.index) < image->size())
                CompareRecord(entry, key, plain, (*image)[entry.index], RecordText::Programming,
                              false);
            else {
                entry.matches = false;
                entry.note = "beyond the last record of the image";
            }
        }
        if (!entry.checksumOk)
            Violate("record " + std::to_string(entry.index) + ": wrong checksum");
        if (entry.matches == false)
            Violate("record " + std::to_string(entry.index) +
                    " differs from the image: " + entry.note);
        records.push_back(entry);
        lastRecordFrame_ = frame.bytes;
    }
    RecordEntry& entry = records.back();
    ++entry.attempts;
    Describe("record " + std::to_string(entry.index) + (repeat ? " again" : ""));
    if (Options().faults.hangupAtRecord == entry.index) {
        DropLine();
        return;
    }
    if (Options().faults.dropAck == entry.index && entry.attempts == 1) {
        Describe("record " + std::to_string(entry.index) + " (first try left unanswered)");
        return;
    }
    if (!entry.checksumOk) return;
    const RecordList* image = Image();
    const bool last = image && static_cast<std::size_t>(entry.index) + 1 == image->size();
    AnswerScrambled(Bytes({static_cast<std::uint8_t>(last ? 0x01 : 0x12)}), key);
}

} // namespace tarnik::sim
