#pragma once
#include "tools/log_sink.h"
#include "tools/text.h"

namespace tarnik {

// Acknowledgment test of the network modules: the expected answer anywhere in the received
// text, or a received text of the same length whose every byte carries the expected bits,
// where a byte missing only bit 7 or only bit 6 still agrees (logged as "!!! NOT BIT").
bool MatchAnswer(const Text& expected, const Text& received, LogSink& log);

} // namespace tarnik
