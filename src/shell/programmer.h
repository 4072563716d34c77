#pragma once
// One programming process as the process control sees it: run until it ends, or be told to
// stop from inside the message processing of its poll loop. Every unit family sits behind
// this, so STOP reaches whichever programmer is running.
#include "image/unit_types.h"
#include "programmers/process_outcome.h"
#include "programmers/process_view.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace tarnik {

class Programmer {
public:
    virtual ~Programmer() = default;
    // Runs the whole process; returns how it ended.
    virtual ProcessOutcome Run() = 0;
    // Interrupts the running process; it ends at its next poll.
    virtual void Stop() = 0;
};

// Creates the programmer of a unit type for one process. unitAddress is the low byte that
// goes into the frames.
using ProgrammerFactory = std::function<std::unique_ptr<Programmer>(
    ProcessContext& context, const UnitTypeRow& unit, std::uint32_t unitAddress)>;

// The programmers built into this program.
std::unique_ptr<Programmer> MakeProgrammer(ProcessContext& context, const UnitTypeRow& unit,
                                           std::uint32_t unitAddress);

} // namespace tarnik
