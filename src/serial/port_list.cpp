#include "serial/port_list.h"

#include <algorithm>
#include <cctype>
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
        if (end > begin) ports.push_back({names.substr(begin, end - begin), ""});
        begin = end + 1;
    }
    return ports;
}

std::vector<PortInfo> ListSerialPorts() {
    if (const char* given = std::getenv(kPortListVariable)) return ParsePortList(given);
    return ListSystemPorts();
}

#ifdef _WIN32

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
        ports.push_back({reinterpret_cast<const char*>(data), valueName});
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

std::string SystemPortPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    if (const int n = ComPortNumber(name); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
    return "/dev/" + name;
}

namespace {

std::vector<PortInfo> ListSystemPorts() {
    std::vector<PortInfo> ports;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK) return ports;
    for (sp_port** p = list; p && *p; ++p) {
        const char* name = sp_get_port_name(*p);
        const char* description = sp_get_port_description(*p);
        if (!name) continue;
        ports.push_back({name, description ? description : ""});
    }
    sp_free_port_list(list);
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    return ports;
}

} // namespace

#endif

} // namespace tarnik
