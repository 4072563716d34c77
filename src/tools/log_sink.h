#pragma once
#include "tools/text.h"

namespace tarnik {

// Receiver of log lines (the main window's log, the command line's output).
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void LogLine(const Text& line) = 0;
};

// A log nobody reads: for reading an image without showing its records.
class DiscardLog final : public LogSink {
public:
    void LogLine(const Text& /*line*/) override {}
};

} // namespace tarnik
