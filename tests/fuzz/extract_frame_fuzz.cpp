// Any received byte stream, delivered in random splits, through ExtractFrame with each
// marker the programmers use: a frame is only ever handed out whole, starting with the
// marker, with its length byte telling its size, and the received text stays bounded.
#include "fuzz_support.h"

#include "tools/hexcodec.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    fuzz::InputReader input(data, size);
    static const Text kMarkers[] = {Text("\xFF\xFF", 2), Text("\xDD\xDD", 2), Text("\xEE\xEE", 2),
                                    Text("\xFF", 1)};
    const Text& marker = kMarkers[input.Byte() % 4];

    Text rxText;
    while (!input.Empty()) {
        // Each piece: a length byte, then that many received bytes.
        const std::size_t piece = input.Byte() % 64 + 1;
        rxText += input.Take(piece);
        for (;;) {
            const Text before = rxText;
            FrameBuffer dest{};
            bool sumOk = false;
            std::size_t length = 0;
            if (!ExtractFrame(rxText, marker, dest, sumOk, &length)) {
                TARNIK_FUZZ_CHECK(rxText.size() <= before.size(), "a miss never adds bytes");
                break;
            }
            TARNIK_FUZZ_CHECK(length >= marker.size() + 3 && length <= kMaxFrame, "frame size");
            TARNIK_FUZZ_CHECK(std::memcmp(dest.data(), marker.data(), marker.size()) == 0,
                              "a frame starts with its marker");
            TARNIK_FUZZ_CHECK(dest[3] + 4u == length, "the length byte tells the frame size");
            TARNIK_FUZZ_CHECK(
                before.find(Text(reinterpret_cast<const char*>(dest.data()), length)) != Text::npos,
                "a frame is bytes that were received");
            unsigned sum = 0;
            for (std::size_t i = 0; i + 1 < length; ++i)
                sum += dest[i];
            TARNIK_FUZZ_CHECK(sumOk == (static_cast<std::uint8_t>(sum) == dest[length - 1]),
                              "the sum verdict matches the frame");
            TARNIK_FUZZ_CHECK(rxText.empty(), "a taken frame empties the received text");
        }
        // The link buffer drops a received text that grows past its bound.
        if (rxText.size() > 1000) rxText.clear();
    }
    return 0;
}
