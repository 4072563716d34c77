#include "sim/unit_model.h"

#include "sim/audio_unit.h"
#include "sim/main_family_unit.h"
#include "sim/network_unit.h"
#include "sim/unit_codec.h"
#include "tools/hexcodec.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tarnik::sim {

// What a unit type is and how it speaks, written out here again on purpose rather than read
// from the loader's unit-type table: the emulator judges the loader, so a wrong row in the
// loader's table must meet a unit that still behaves as the real one does.
bool IsNetworkUnit(int unitType) {
    return unitType == 4 || unitType == 9 || unitType == 15;
}

bool IsAudioUnit(int unitType) {
    return unitType == 5;
}

UnitLine LineOfUnitType(int unitType) {
    switch (unitType) {
    case 0:
    case 18:
        return {9600, paNone, sb1_0};
    case 7:
    case 16:
        return {19200, paNone, sb1_0};
    case 4:
    case 9:
        return {4800, paEven, sb2_0};
    case 15:
        return {57600, paNone, sb2_0};
    default:
        return {38400, paNone, sb1_0};
    }
}

UnitLine NetworkBootloaderLine() {
    return {57600, paNone, sb2_0};
}

UnitLine NetworkApplicationLine(int unitType) {
    if (unitType == 4) return {19200, paNone, sb2_0};
    return LineOfUnitType(unitType);
}

std::uint32_t WireTimeMs(std::size_t count, const LineSettings& line) {
    if (line.baud <= 0) return 0;
    const std::uint64_t bits =
        10 + (line.parity != paNone ? 1 : 0) + (line.stopbits != sb1_0 ? 1 : 0);
    const std::uint64_t total = bits * count * 1000;
    return static_cast<std::uint32_t>((total + static_cast<std::uint64_t>(line.baud) - 1) /
                                      static_cast<std::uint64_t>(line.baud));
}

namespace {

LineSettings ToLineSettings(const UnitLine& line) {
    return LineSettings{line.baud, line.parity, line.stopbits, da8};
}

std::string LineText(const LineSettings& line, bool withParity) {
    static const char* const kParity[] = {"none", "odd", "even", "mark", "space"};
    char text[96];
    std::snprintf(text, sizeof text, "%d baud%s%s, %s stop bit%s", line.baud,
                  withParity ? ", parity " : "", withParity ? kParity[line.parity] : "",
                  line.stopbits == sb1_0 ? "1" : "2", line.stopbits == sb1_0 ? "" : "s");
    return text;
}

bool SameStopBits(TStopbits a, TStopbits b) {
    return (a == sb1_0) == (b == sb1_0);
}

bool Reached(std::uint32_t nowMs, std::uint32_t dueMs) {
    return static_cast<std::int32_t>(nowMs - dueMs) >= 0;
}

// The pause after bytes that reach the host on a read of their own (a copy of an answer, a
// piece of one), so that the host takes them alone: the default latency timer of a common USB
// serial adapter, which hands its bytes over in such pieces.
constexpr std::uint32_t kOwnReadGapMs = 16;

} // namespace

UnitModel::UnitModel(UnitOptions options)
    : options_(std::move(options)), noise_(options_.noiseSeed) {
    report_.unitType = options_.unitType;
    if (options_.image) report_.imageRecords = options_.image->size();
}

void UnitModel::OnHostBytes(const Text& bytes, std::uint32_t nowMs, const LineSettings& line) {
    if (bytes.empty() || hungUp_) return;
    std::uint32_t due = nowMs + (options_.wire ? WireTimeMs(bytes.size(), line) : 0);
    // Bytes keep their order on the line even when a later write is faster.
    if (!arrivals_.empty() && static_cast<std::int32_t>(due - lastArrivalDue_) < 0)
        due = lastArrivalDue_;
    lastArrivalDue_ = due;
    arrivals_.push_back({due, bytes, line});
    Advance(nowMs);
}

Text UnitModel::TakeUnitBytes(std::uint32_t nowMs) {
    Advance(nowMs);
    if (quietUntil_ && !Reached(nowMs, *quietUntil_)) return Text();
    quietUntil_.reset();
    Text due;
    while (!out_.empty() && Reached(nowMs, out_.front().dueMs)) {
        const Output next = out_.front();
        if (next.readGapMs > 0 && !due.empty()) break;
        due += next.bytes;
        out_.pop_front();
        if (next.readGapMs > 0) {
            quietUntil_ = nowMs + next.readGapMs;
            break;
        }
    }
    return hungUp_ ? Text() : due;
}

void UnitModel::Advance(std::uint32_t nowMs) {
    TakeArrivals(nowMs);
    ParseBuffered();
    DropStalePartial(nowMs);
}

void UnitModel::TakeArrivals(std::uint32_t nowMs) {
    while (!arrivals_.empty() && static_cast<std::int32_t>(nowMs - arrivals_.front().dueMs) >= 0) {
        const Arrival& a = arrivals_.front();
        in_ += a.bytes;
        stamps_.insert(stamps_.end(), a.bytes.size(), Stamp{a.dueMs, a.line});
        arrivals_.pop_front();
    }
}

void UnitModel::ParseBuffered() {
    while (!in_.empty() && !hungUp_) {
        if (ParseOne() == Parse::NeedMore) break;
    }
    if (hungUp_) {
        in_.clear();
        stamps_.clear();
    }
}

void UnitModel::DropStalePartial(std::uint32_t nowMs) {
    if (in_.empty()) return;
    if (nowMs - stamps_.back().timeMs <= options_.staleFrameMs) return;
    frameTime_ = stamps_.back().timeMs;
    Violate("incomplete frame dropped: " + BytesToHexList(in_));
    SkipJunk(in_.size(), false);
}

std::optional<std::uint32_t> UnitModel::NextEventMs() const {
    std::optional<std::uint32_t> next;
    const auto consider = [&next](std::uint32_t t) {
        if (!next || static_cast<std::int32_t>(t - *next) < 0) next = t;
    };
    if (!arrivals_.empty()) consider(arrivals_.front().dueMs);
    if (!out_.empty()) {
        const std::uint32_t due = out_.front().dueMs;
        consider(quietUntil_ && !Reached(due, *quietUntil_) ? *quietUntil_ : due);
    }
    if (!in_.empty()) consider(stamps_.back().timeMs + options_.staleFrameMs + 1);
    return next;
}

void UnitModel::EndSession(const std::string& reason) {
    if (report_.endReason.empty()) report_.endReason = reason;
}

bool UnitModel::HostCorrect() const {
    if (!report_.violations.empty() || report_.frames.empty()) return false;
    return report_.complete || options_.faults.BlockCompletion();
}

UnitModel::Frame UnitModel::TakeFrame(std::size_t n, const std::string& what) {
    n = std::min(n, in_.size());
    Frame frame{in_.substr(0, n), n ? stamps_[n - 1].timeMs : frameTime_,
                n ? stamps_[0].line : LineSettings{}};
    in_.erase(0, n);
    stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(n));
    frameTime_ = frame.timeMs;
    report_.frames.push_back({frame.timeMs, frame.line, frame.bytes, what});
    return frame;
}

void UnitModel::Describe(const std::string& what) {
    if (!report_.frames.empty()) report_.frames.back().what = what;
}

std::uint16_t UnitModel::ScrambledKey() const {
    return WordAt(in_, 3);
}

Text UnitModel::DescrambledPayload(std::size_t n) const {
    std::uint16_t key = ScrambledKey();
    return DescrambleRun(in_.substr(kScrambledHeader, n), key);
}

std::uint16_t UnitModel::ContinuedKey(std::size_t n) const {
    std::uint16_t key = ScrambledKey();
    DescrambleRun(in_.substr(kScrambledHeader, n), key);
    return key;
}

void UnitModel::TakeUnknownScrambled() {
    const std::size_t next = in_.find(Bytes({0xEE, 0xEE}), 2);
    TakeFrame(next == Text::npos ? in_.size() : next, "scrambled frame with an unknown command");
}

std::string UnitModel::UnknownScrambledCommand(std::uint8_t first) {
    return "scrambled frame that descrambles to no known command under its key (first byte " +
           HexByte(first) + "): a wrong key?";
}

void UnitModel::SkipJunk(std::size_t n, bool violation) {
    n = std::min(n, in_.size());
    if (n == 0) return;
    frameTime_ = stamps_[n - 1].timeMs;
    if (violation)
        Violate(std::to_string(n) +
                " byte(s) outside any frame: " + BytesToHexList(in_.substr(0, n)));
    report_.junkBytes += n;
    in_.erase(0, n);
    stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(n));
}

bool UnitModel::ListensWith(const LineSettings& line) const {
    const LineSettings expected = ToLineSettings(ListeningLine());
    return line.baud == expected.baud && SameStopBits(line.stopbits, expected.stopbits) &&
           (!options_.checkParity || line.parity == expected.parity);
}

LineSettings UnitModel::ArrivalLine(const LineSettings& before, const LineSettings& after) const {
    const bool late =
        before != after && ListensWith(before) && !ListensWith(after) && SwitchExpected(after);
    return late ? before : after;
}

bool UnitModel::LineOk(const Frame& frame) {
    if (ListensWith(frame.line)) return true;
    const LineSettings expected = ToLineSettings(ListeningLine());
    const std::string settings = LineText(frame.line, options_.checkParity);
    if (LineExcused(frame.line)) {
        Describe(report_.frames.back().what + " (not understood at " + settings + ")");
        return false;
    }
    Violate("frame sent at " + settings + " while the unit listens at " +
            LineText(expected, options_.checkParity));
    Describe(report_.frames.back().what + " (ignored: wrong line settings)");
    return false;
}

bool UnitModel::PlainSumOk(const Frame& frame) {
    if (EndsWithSum(frame.bytes)) return true;
    Violate("plain frame with a wrong sum byte");
    Describe("plain frame with a wrong sum byte (ignored)");
    return false;
}

bool UnitModel::AddressOk(std::uint8_t address) {
    if (address == Address()) return true;
    Violate("frame for address " + HexByte(address) + ", the unit's address is " +
            HexByte(Address()));
    Describe(report_.frames.back().what + " (ignored: other address)");
    return false;
}

bool UnitModel::IsRepeat(const ReceivedRecord& received) const {
    const bool verification = received.pass == RecordText::Verification;
    const std::vector<RecordEntry>& entries =
        verification ? report_.verifications : report_.records;
    const Text& last = verification ? lastVerification_ : lastRecord_;
    return received.mayRepeat && !entries.empty() && received.identity == last;
}

bool UnitModel::LostOnLine(const ReceivedRecord& received) {
    if (recordLost_ || options_.faults.loseRecord < 0 || IsRepeat(received)) return false;
    const std::vector<RecordEntry>& entries =
        received.pass == RecordText::Verification ? report_.verifications : report_.records;
    const int index = static_cast<int>(entries.size()) + received.firstIndex;
    if (index != options_.faults.loseRecord) return false;
    recordLost_ = true;
    Describe("record " + std::to_string(index) + " (lost on the line)");
    return true;
}

UnitModel::RegisteredRecord UnitModel::RegisterRecord(const ReceivedRecord& received) {
    const bool verification = received.pass == RecordText::Verification;
    std::vector<RecordEntry>& entries = verification ? report_.verifications : report_.records;
    Text& last = verification ? lastVerification_ : lastRecord_;
    const std::string kind = verification ? "verification record " : "record ";
    const bool repeat = IsRepeat(received);
    if (!repeat) {
        const int index = static_cast<int>(entries.size()) + received.firstIndex;
        entries.push_back(NewRecordEntry(received, index, kind));
        last = received.identity;
    }
    RecordEntry& entry = entries.back();
    ++entry.attempts;
    Describe(kind + std::to_string(entry.index) + (repeat ? " again" : ""));
    return {entry, repeat};
}

RecordEntry UnitModel::NewRecordEntry(const ReceivedRecord& received, int index,
                                      const std::string& kind) {
    RecordEntry entry;
    entry.index = index;
    entry.address = received.address;
    entry.key = received.key;
    entry.checksumOk = received.checksumOk;
    if (const RecordList* image = Image()) {
        if (static_cast<std::size_t>(index) < image->size())
            CompareWithImage(entry, received, (*image)[index]);
        else {
            entry.matches = false;
            entry.note = "beyond the last record of the image";
        }
    }
    if (received.checksumChecked && !entry.checksumOk)
        Violate(kind + std::to_string(index) + ": wrong checksum");
    if (entry.matches == false)
        Violate(kind + std::to_string(index) + " differs from the image: " + entry.note);
    return entry;
}

bool UnitModel::RecordFaultStrikes(const RecordEntry& entry) {
    if (options_.faults.hangupAtRecord == entry.index) {
        DropLine();
        return true;
    }
    if (options_.faults.dropAck == entry.index && entry.attempts == 1) {
        Describe("record " + std::to_string(entry.index) + " (first try left unanswered)");
        return true;
    }
    return false;
}

void UnitModel::Violate(const std::string& text) {
    report_.violations.push_back({frameTime_, text});
}

void UnitModel::Answer(const Text& bytes, std::uint32_t extraDelayMs) {
    if (hungUp_ || Silent()) return;
    const std::uint32_t due =
        frameTime_ + options_.processingDelayMs + options_.faults.answerDelayMs + extraDelayMs;
    QueueOutput(bytes, due);
    if (options_.faults.duplicateAnswers) QueueOutput(bytes, due);
    if (options_.faults.noise && NoiseFollows()) QueueOutput(Junk(), lastOutputDue_ + 1);
}

void UnitModel::AnswerAgain(const Text& bytes, std::uint32_t afterMs) {
    if (hungUp_ || Silent()) return;
    QueueOutput(bytes,
                frameTime_ + options_.processingDelayMs + options_.faults.answerDelayMs + afterMs,
                kOwnReadGapMs);
}

bool UnitModel::NoiseFollows() {
    if (options_.faults.noisePercent >= 100) return true;
    return std::uniform_int_distribution<std::uint32_t>(0, 99)(noise_) <
           options_.faults.noisePercent;
}

void UnitModel::AnswerScrambled(const Text& payload, std::uint16_t key, std::uint32_t delayMs) {
    Answer(ScrambledAnswerBytes(payload, key), delayMs);
}

Text UnitModel::ScrambledAnswerBytes(const Text& payload, std::uint16_t key) const {
    return Bytes({0xEE, 0xEE, AnswerAddress()}) + ScrambleRun(payload, key);
}

void UnitModel::QueueOutput(const Text& bytes, std::uint32_t dueMs, std::uint32_t readGapMs) {
    const std::size_t piece = options_.faults.chunkBytes;
    if (piece == 0) {
        QueueOne(bytes, dueMs, readGapMs);
        return;
    }
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        QueueOne(bytes.substr(at, piece), dueMs, kOwnReadGapMs);
}

void UnitModel::QueueOne(const Text& bytes, std::uint32_t dueMs, std::uint32_t readGapMs) {
    if (options_.wire) {
        if (!out_.empty() && static_cast<std::int32_t>(dueMs - lastOutputDue_) < 0)
            dueMs = lastOutputDue_;
        dueMs += WireTimeMs(bytes.size(), ToLineSettings(ListeningLine()));
    }
    // Answers leave in the order they were made.
    if (!out_.empty() && static_cast<std::int32_t>(dueMs - lastOutputDue_) < 0)
        dueMs = lastOutputDue_;
    lastOutputDue_ = dueMs;
    out_.push_back({dueMs, bytes, readGapMs});
}

Text UnitModel::Junk() {
    // Printable bytes that can start no answer of any family: no marker byte, no letter of
    // the network handshakes.
    static const std::string kAlphabet = "0123456789ABCDFGHJKLMNOPQRUVWXYZ#%&*+-./:;<=>?@[]^_";
    std::uniform_int_distribution<std::size_t> length(2, 6);
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    Text junk(length(noise_), ' ');
    for (char& c : junk)
        c = kAlphabet[pick(noise_)];
    return junk;
}

void UnitModel::DropLine() {
    hungUp_ = true;
    out_.clear();
    quietUntil_.reset();
    EndSession("the unit dropped the line");
}

void UnitModel::Complete(const std::string& reason) {
    report_.complete = true;
    EndSession(reason);
}

std::uint8_t UnitModel::ReportedTypeCode() const {
    const int type = options_.unitType;
    return static_cast<std::uint8_t>(options_.faults.wrongType ? (type + 1) % 19 : type);
}

std::unique_ptr<UnitModel> CreateUnitModel(const UnitOptions& options) {
    if (IsNetworkUnit(options.unitType)) return std::make_unique<NetworkUnit>(options);
    if (IsAudioUnit(options.unitType)) return std::make_unique<AudioUnit>(options);
    return std::make_unique<MainFamilyUnit>(options);
}

} // namespace tarnik::sim
