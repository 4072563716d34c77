#pragma once
// The serial ports of the machine and the mapping of a port name to the system's device.
#include <string>
#include <vector>

namespace tarnik {

struct PortInfo {
    std::string name;        // what DeviceName takes ("/dev/ttyUSB0", "COM3")
    std::string description; // the adapter's description, empty when unknown
    // How the port is attached: "usb", "bluetooth", "native" (a UART of the machine), or
    // empty when unknown. The rest is known for USB adapters only, empty otherwise: they tell
    // one cable from another at a station.
    std::string transport;
    std::string vendorId;  // four hex digits, "0403"
    std::string productId; // four hex digits, "6001"
    std::string manufacturer;
    std::string product;
    std::string serialNumber; // the adapter's own serial number
};

// The serial ports present: on Windows in the order the registry lists them, elsewhere in
// name order. When TARNIK_SERIAL_PORTS is set, its list replaces the system's and no device
// is looked at (the tests set it, since listing may open every UART, the console included).
std::vector<PortInfo> ListSerialPorts();

// The library the ports are listed through and its version ("libserialport 0.1.1"), or
// empty where the system's own calls do it.
std::string PortLibraryVersion();

// Port names separated by ':' (Windows: ';'), empty names skipped, without descriptions.
std::vector<PortInfo> ParsePortList(const std::string& names);

// The device a port name means on this system. POSIX: a name containing '/' is a path,
// "COMn" is /dev/ttyS(n-1), any other name is looked for under /dev/. Windows: the name.
std::string SystemPortPath(const std::string& name);

} // namespace tarnik
