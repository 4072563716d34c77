#pragma once
// The serial ports of the machine and the mapping of a port name to the system's device.
#include <string>
#include <vector>

namespace tarnik {

struct PortInfo {
    std::string name;        // what DeviceName takes ("/dev/ttyUSB0", "COM3")
    std::string description; // the adapter's description, empty when unknown
};

// The serial ports present, in name order.
std::vector<PortInfo> ListSerialPorts();

// The device a port name means on this system. POSIX: a name containing '/' is a path,
// "COMn" is /dev/ttyS(n-1), any other name is looked for under /dev/. Windows: the name.
std::string SystemPortPath(const std::string& name);

} // namespace tarnik
