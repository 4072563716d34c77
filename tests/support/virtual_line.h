#pragma once
// One programming process on the in-process line and a virtual clock: the port, the message
// pump, the window as the programmers see it, the link buffer and the process context, wired
// as the process control wires them. A rig puts a unit at the other end of the line (the
// emulated unit, a script, a tap in front of the unit) and adds the programmer.
#include "image/unit_types.h"
#include "programmers/process_view.h"
#include "serial/tfustaw.h"
#include "sim/loopback.h"

#include <cstdint>
#include <stdexcept>
#include <type_traits>

namespace tarnik::testing {

// The window the programmers see, made from the pump (and the clock, when it takes one).
template <class View> View MakeView(sim::LoopbackPump& pump, sim::VirtualClock& clock) {
    if constexpr (std::is_constructible_v<View, sim::LoopbackPump&, sim::VirtualClock&>)
        return View(pump, clock);
    else
        return View(pump);
}

template <class View> struct VirtualLine {
    explicit VirtualLine(std::uint32_t keySeed) : keys(keySeed) { pump.AddPort(&port); }
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // Opens the port with the line settings the process control uses for the unit type.
    void OpenFor(int unitType) {
        const UnitTypeRow& row = *FindUnitType(unitType);
        port.SetBaudRate(row.baud);
        port.SetParity(row.parity);
        port.SetStopbits(row.stopbits);
        port.Open();
    }
    // A process that never ends would hang the test: once the limit has passed since
    // StartClock, message processing throws, which ends the poll loop.
    void LimitRun(std::uint32_t limitMs) {
        pump.AddHook([this, limitMs] {
            if (clock.TickMs() - startedAt > limitMs) throw std::runtime_error("run limit");
        });
    }
    void StartClock() { startedAt = clock.TickMs(); }

    sim::VirtualClock clock;
    sim::SimulatedPort port{clock, nullptr};
    sim::LoopbackPump pump;
    View view = MakeView<View>(pump, clock);
    TFUstaw link{port, pump, clock, view};
    RecordList records;
    KeyGenerator keys;
    int exitStatus = -1;
    ImageHeader header;
    ProcessContext context{view, link, clock, records, keys, exitStatus, header};
    std::uint32_t startedAt = 0;
};

} // namespace tarnik::testing
