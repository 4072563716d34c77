#pragma once
// The host's side of the unit protocols, written out plainly for the emulator's tests:
// frames as a correct loader sends them, records of a small image, and a session that feeds
// a unit model on a virtual clock.
#include "image/image_file.h"
#include "image/image_writer.h"
#include "sim/unit_codec.h"
#include "sim/unit_model.h"
#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace tarnik::sim::testing {

inline LineSettings Line(int baud, TParity parity = paNone, TStopbits stop = sb1_0) {
    return LineSettings{baud, parity, stop, da8};
}

inline Text Header(std::uint8_t address, std::uint16_t key) {
    return Bytes({0xEE, 0xEE, address, static_cast<std::uint8_t>(key >> 8),
                  static_cast<std::uint8_t>(key & 0xFF)});
}

// A scrambled command; `continued` receives the key the answer is scrambled with.
inline Text Command(std::uint8_t address, std::uint16_t key, const Text& payload,
                    std::uint16_t* continued = nullptr) {
    std::uint16_t k = key;
    const Text frame = Header(address, key) + ScrambleRun(payload, k);
    if (continued) *continued = k;
    return frame;
}

// What the host expects back: EE EE, the address, the payload scrambled with `key`.
inline Text Expected(std::uint8_t address, std::uint16_t key, const Text& payload) {
    return Bytes({0xEE, 0xEE, address}) + ScrambleRun(payload, key);
}

// A record as the image loader keeps it, with its programming text scrambled under `key`.
inline TLDane ScrambledRecord(std::uint16_t address, const Text& plain, std::uint16_t key) {
    TLDane record;
    record.address = address;
    record.key = key;
    record.length = static_cast<std::uint16_t>(plain.size());
    std::uint16_t k = key;
    record.programmingText = ScrambleRun(plain, k);
    return record;
}

// A main-family record: programming and verification texts.
inline TLDane S19Record(std::uint16_t address, const Text& data, std::uint16_t key) {
    const Text plain = PlainS19Record(address, data);
    TLDane record = ScrambledRecord(address, plain, key);
    Text verify = plain;
    verify[0] = AsChar(0x13);
    verify.back() = AsChar(SumOf(verify.substr(0, verify.size() - 1)));
    std::uint16_t k = key;
    record.verificationText = ScrambleRun(verify, k);
    return record;
}

inline TLDane NetRecord(std::uint16_t address, const Text& data, std::uint16_t key) {
    return ScrambledRecord(address, PlainNetRecord(address, data), key);
}

inline RecordList S19Image(int count) {
    RecordList records;
    for (int i = 0; i < count; ++i)
        records.push_back(S19Record(static_cast<std::uint16_t>(0x8000 + i * 16),
                                    Text(16, AsChar(static_cast<std::uint8_t>(0x30 + i))),
                                    static_cast<std::uint16_t>(0x1234 + i * 0x0101)));
    return records;
}

inline RecordList NetImage(int count) {
    RecordList records;
    for (int i = 0; i < count; ++i)
        records.push_back(NetRecord(static_cast<std::uint16_t>(0x4000 + i * 32),
                                    Text(32, AsChar(static_cast<std::uint8_t>(0x41 + i))),
                                    static_cast<std::uint16_t>(0xA001 + i * 0x0303)));
    return records;
}

inline Text RecordFrame(std::uint8_t address, const TLDane& record, bool verification = false) {
    return Header(address, record.key) +
           (verification ? record.verificationText : record.programmingText);
}

// One session against a unit model: the host writes, time passes, the unit's bytes come.
class Session {
public:
    explicit Session(const UnitOptions& options) : unit(CreateUnitModel(options)) {}

    // Sends the bytes at the current line settings and returns what the unit sent in the
    // following waitMs.
    Text Send(const Text& bytes, std::uint32_t waitMs = 50) {
        unit->OnHostBytes(bytes, now, line);
        return Wait(waitMs);
    }
    Text Wait(std::uint32_t ms) {
        Text got;
        for (std::uint32_t t = 0; t < ms; ++t)
            got += unit->TakeUnitBytes(++now);
        return got;
    }
    const UnitReport& Report() const { return unit->Report(); }
    std::size_t Violations() const { return unit->Report().violations.size(); }
    bool ViolationMentions(const std::string& words) const {
        for (const Violation& v : unit->Report().violations)
            if (v.text.find(words) != std::string::npos) return true;
        return false;
    }

    std::unique_ptr<UnitModel> unit;
    std::uint32_t now = 1000;
    LineSettings line = Line(38400);
};

// Sends a scrambled command and expects exactly `answer` scrambled with the continued key.
inline void ExpectAnswer(Session& s, std::uint8_t address, std::uint16_t key, const Text& payload,
                         const Text& answer, std::uint32_t waitMs = 50) {
    std::uint16_t continued = 0;
    const Text frame = Command(address, key, payload, &continued);
    const Text got = s.Send(frame, waitMs);
    EXPECT_EQ(got, Expected(address, continued, answer)) << "command " << BytesToHexList(payload);
}

} // namespace tarnik::sim::testing
