// Any bytes as an image file: the header check, the loading of every record (with and
// without a serial number to insert) and the serial-number lookup must neither crash nor
// hand out records that do not match what they claim.
#include "fuzz_support.h"

#include "image/image_file.h"

namespace {

class NullLog final : public tarnik::LogSink {
public:
    void LogLine(const tarnik::Text&) override {}
};

bool IsUpperHex(const tarnik::Text& text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    fuzz::InputReader input(data, size);
    // The first byte picks the serial number entry; the rest is the file.
    const std::uint8_t choice = input.Byte();
    const Text serialText = (choice & 1) ? "0000ABCD" : ((choice & 2) ? "12AB" : "");
    const std::string path = (fuzz::ScratchFolder() / "image.bin").string();
    fuzz::WriteFile(path, input.Rest());

    const ImageLoadResult header = ReadImageHeader(path);
    if (header.ok()) {
        TARNIK_FUZZ_CHECK(header.header.has_value(), "a good header is returned");
        TARNIK_FUZZ_CHECK(header.header->unitType >= 0 && header.header->unitType <= kMaxUnitType,
                          "a good header has a known unit type");
        TARNIK_FUZZ_CHECK(header.header->block.size() == kHeaderSize, "header block size");
    }

    NullLog log;
    RecordList records;
    int calls = 0;
    const ImageLoadResult loaded =
        LoadImageRecords(path, serialText, records, log, [&](int counter) {
            TARNIK_FUZZ_CHECK(counter == calls, "records are counted in order");
            ++calls;
        });
    TARNIK_FUZZ_CHECK(loaded.ok() == header.ok() || loaded.status == ImageLoadStatus::DamagedRecord,
                      "loading agrees with the header check");
    if (loaded.ok()) {
        const bool net = IsNetworkModuleType(loaded.header->unitType);
        for (const TLDane& record : records) {
            TARNIK_FUZZ_CHECK(record.programmingText.size() == record.length,
                              "programming text has the record's length");
            TARNIK_FUZZ_CHECK(record.length >= (net ? 7u : 5u), "record holds its head");
            if (!net)
                TARNIK_FUZZ_CHECK(record.verificationText.size() == record.length,
                                  "verification text has the record's length");
        }
    } else {
        TARNIK_FUZZ_CHECK(!loaded.message.empty(), "a failed load says why");
    }

    const Text serial = ReadSerialFromImage(kSerialRecordAddress, path, log);
    TARNIK_FUZZ_CHECK(serial.empty() || (serial.size() == 8 && IsUpperHex(serial)),
                      "a serial number is eight upper-case hex digits");
    return 0;
}
