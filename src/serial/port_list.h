#pragma once
// The serial ports of the machine and the mapping of a port name to the system's device.
#include <string>
#include <vector>

namespace tarnik {

struct PortInfo {
    std::string name;        // what DeviceName takes ("/dev/ttyUSB0", "COM3")
    std::string description; // the adapter's description, empty when unknown
};

// The serial ports present: on Windows in the order the registry lists them, elsewhere in
// name order. When TARNIK_SERIAL_PORTS is set, its list replaces the system's and no device
// is looked at (the tests set it, since listing may open every UART, the console included).
std::vector<PortInfo> ListSerialPorts();

// Port names separated by ':' (Windows: ';'), empty names skipped, without descriptions.
std::vector<PortInfo> ParsePortList(const std::string& names);

// The device a port name means on this system. POSIX: a name containing '/' is a path,
// "COMn" is /dev/ttyS(n-1), any other name is looked for under /dev/. Windows: the name.
std::string SystemPortPath(const std::string& name);

} // namespace tarnik
