#include "serial/port_list.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <libserialport.h>
#endif

namespace tarnik {

namespace {

constexpr const char* kPortListVariable = "TARNIK_SERIAL_PORTS";
#ifdef _WIN32
constexpr char kPortListSeparator = ';';
#else
constexpr char kPortListSeparator = ':';
#endif

std::vector<PortInfo> ListSystemPorts();

} // namespace

std::vector<PortInfo> ParsePortList(const std::string& names) {
    std::vector<PortInfo> ports;
    std::size_t begin = 0;
    while (begin <= names.size()) {
        std::size_t end = names.find(kPortListSeparator, begin);
        if (end == std::string::npos) end = names.size();
        if (end > begin) {
            PortInfo port;
            port.name = names.substr(begin, end - begin);
            ports.push_back(port);
        }
        begin = end + 1;
    }
    return ports;
}

std::vector<PortInfo> ListSerialPorts() {
    if (const char* given = std::getenv(kPortListVariable)) return ParsePortList(given);
    return ListSystemPorts();
}

#ifdef _WIN32

std::string PortLibraryVersion() {
    return {};
}

std::string SystemPortPath(const std::string& name) {
    return name;
}

namespace {

std::vector<PortInfo> ListSystemPorts() {
    std::vector<PortInfo> ports;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "hardware\\devicemap\\serialcomm", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameSize = sizeof valueName;
        BYTE data[256];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG r =
            RegEnumValueA(key, index, valueName, &valueNameSize, nullptr, &type, data, &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize] = 0;
        // The value names the driver's device object, the data is the port name.
        PortInfo port;
        port.name = reinterpret_cast<const char*>(data);
        port.description = valueName;
        ports.push_back(port);
    }
    RegCloseKey(key);
    return ports;
}

} // namespace

#else

namespace {

// The port number of "COMn" (any letter case, n >= 1), or 0.
int ComPortNumber(const std::string& name) {
    if (name.size() < 4) return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        number = number * 10 + (name[i] - '0');
        if (number > 100000) return 0;
    }
    return number;
}

} // namespace

std::string PortLibraryVersion() {
    return std::string("libserialport ") + sp_get_package_version_string();
}

std::string SystemPortPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    if (const int n = ComPortNumber(name); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
    return "/dev/" + name;
}

namespace {

std::string Given(const char* text) {
    return text ? text : "";
}

std::string FourHexDigits(int value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(value) & 0xFFFFu);
    return digits;
}

PortInfo DescribePort(sp_port* port) {
    PortInfo info;
    info.name = Given(sp_get_port_name(port));
    info.description = Given(sp_get_port_description(port));
    switch (sp_get_port_transport(port)) {
    case SP_TRANSPORT_NATIVE:
        info.transport = "native";
        break;
    case SP_TRANSPORT_BLUETOOTH:
        info.transport = "bluetooth";
        break;
    case SP_TRANSPORT_USB: {
        info.transport = "usb";
        int vendor = 0, product = 0;
        if (sp_get_port_usb_vid_pid(port, &vendor, &product) == SP_OK) {
            info.vendorId = FourHexDigits(vendor);
            info.productId = FourHexDigits(product);
        }
        info.manufacturer = Given(sp_get_port_usb_manufacturer(port));
        info.product = Given(sp_get_port_usb_product(port));
        info.serialNumber = Given(sp_get_port_usb_serial(port));
        break;
    }
    }
    return info;
}

std::vector<PortInfo> ListSystemPorts() {
    std::vector<PortInfo> ports;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK) return ports;
    for (sp_port** p = list; p && *p; ++p)
        if (sp_get_port_name(*p)) ports.push_back(DescribePort(*p));
    sp_free_port_list(list);
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    return ports;
}

} // namespace

#endif

} // namespace tarnik
