#include "image/image_writer.h"

#include "image/image_file.h"
#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <fstream>
#include <stdexcept>

namespace tarnik {

namespace {

void PutField(Text& block, std::size_t offset, std::size_t width, const Text& value,
              const char* what) {
    if (value.size() > width)
        throw std::invalid_argument(std::string(what) + " longer than " + std::to_string(width) +
                                    " characters");
    block.replace(offset, value.size(), value);
}

std::uint8_t SumOf(const Text& bytes, std::size_t first, std::size_t end) {
    std::uint8_t sum = 0;
    for (std::size_t i = first; i < end; ++i)
        sum = static_cast<std::uint8_t>(sum + ByteAt(bytes, i));
    return sum;
}

Text KeyBytes(std::uint16_t key) {
    return {AsChar(static_cast<std::uint8_t>(key & 0xFF)),
            AsChar(static_cast<std::uint8_t>(key >> 8))};
}

void AppendAddress(Text& record, std::uint16_t address) {
    record.push_back(AsChar(static_cast<std::uint8_t>(address >> 8)));
    record.push_back(AsChar(static_cast<std::uint8_t>(address & 0xFF)));
}

} // namespace

ImageHeaderFields MakeHeaderFields(int unitType, const Text& version, std::int64_t dateSeconds) {
    ImageHeaderFields fields;
    fields.version = version;
    fields.date = std::to_string(dateSeconds);
    fields.type = IntToHexEven(static_cast<std::uint32_t>(unitType) & 0xFF);
    return fields;
}

Text BuildHeaderBlock(const ImageHeaderFields& fields) {
    Text block(kHeaderSize - 1, ' ');
    PutField(block, 0, 10, fields.version, "version");
    PutField(block, 10, 15, fields.date, "date");
    PutField(block, 25, 2, fields.type, "unit type");
    PutField(block, 27, 30, fields.spare, "spare field");
    block.push_back(AsChar(SumOf(block, 0, block.size())));
    return block;
}

Text EncodeHeader(const Text& headerBlock, std::uint16_t fileKey) {
    Text scrambled;
    ScrambleText(headerBlock, 1, scrambled, fileKey);
    return KeyBytes(fileKey) + scrambled;
}

Text PlainS19Record(std::uint16_t address, const Text& data, std::uint8_t command) {
    if (data.empty() || data.size() > kMaxS19RecordData)
        throw std::invalid_argument("an S19-format record holds 1 to 256 data bytes");
    Text record(1, AsChar(command));
    AppendAddress(record, address);
    record.push_back(AsChar(static_cast<std::uint8_t>(data.size() & 0xFF)));
    record += data;
    record.push_back(AsChar(SumOf(record, 0, record.size())));
    return record;
}

Text PlainNetRecord(std::uint16_t address, const Text& data, std::uint8_t command) {
    if (data.size() > kMaxNetRecordData)
        throw std::invalid_argument("a network-format record holds at most 255 data bytes");
    Text record{AsChar(command), '\0', AsChar(static_cast<std::uint8_t>(data.size())), '\0'};
    AppendAddress(record, address);
    record += data;
    record.push_back(AsChar(static_cast<std::uint8_t>(0x100 - SumOf(record, 2, record.size()))));
    return record;
}

Text EncodeRecord(const Text& plainRecord, std::uint16_t key) {
    Text scrambled;
    ScrambleText(plainRecord, 1, scrambled, key);
    return KeyBytes(key) + scrambled;
}

Text BuildImage(const ImageSpec& spec) {
    const Text block =
        BuildHeaderBlock(MakeHeaderFields(spec.unitType, spec.version, spec.dateSeconds));
    Text image = EncodeHeader(block, spec.fileKey);
    const bool network = IsNetworkModuleType(spec.unitType);
    for (const ImageRecordSpec& record : spec.records) {
        const Text plain = network ? PlainNetRecord(record.address, record.data)
                                   : PlainS19Record(record.address, record.data);
        image += EncodeRecord(plain, record.key);
    }
    return image;
}

void WriteImageFile(const std::string& path, const Text& image) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

} // namespace tarnik
