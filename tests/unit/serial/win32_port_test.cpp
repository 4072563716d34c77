// The serial port on Windows, run under wine. Never opens COM1..COM4 (under wine COM1 is this
// machine's console). The exchange tests need TARNIK_TEST_ECHO_PORT: a port that wine maps to
// a pseudo-terminal with tarnik-pty-echo on the other side (scripts/test-windows sets it up).
#include "serial/port_list.h"
#include "serial/tcomm64.h"
#include "tools/plain_message_pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace tarnik {
namespace {

using namespace std::chrono_literals;

constexpr const char* kMissingPort = "COM250";
constexpr const char* kSerialComm = "hardware\\devicemap\\serialcomm";

template <typename Pred>
bool PumpUntil(PlainMessagePump& pump, Pred pred, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred() && std::chrono::steady_clock::now() < deadline) {
        pump.WaitForWork(20ms);
        pump.processMessages();
    }
    return pred();
}

// Wine lets a serial device be opened twice, whatever the sharing mode asks for.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string EchoPort() {
    const char* name = std::getenv("TARNIK_TEST_ECHO_PORT");
    return name ? name : "";
}

// The test run hides the system's port list; these tests read the registry's.
class SystemPortList {
public:
    SystemPortList() {
        if (const char* given = std::getenv("TARNIK_SERIAL_PORTS")) saved_ = given;
        _putenv_s("TARNIK_SERIAL_PORTS", ""); // an empty value removes the variable
    }
    ~SystemPortList() { _putenv_s("TARNIK_SERIAL_PORTS", saved_.c_str()); }

private:
    std::string saved_;
};

class SerialCommValues {
public:
    SerialCommValues() {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key_, nullptr);
    }
    ~SerialCommValues() {
        for (const std::string& name : written_)
            RegDeleteValueA(key_, name.c_str());
        if (key_) RegCloseKey(key_);
    }
    void Add(const std::string& name, DWORD type, const std::string& data) {
        RegSetValueExA(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
        written_.push_back(name);
    }

private:
    HKEY key_ = nullptr;
    std::vector<std::string> written_;
};

TEST(Win32PortList, ReadFromTheDeviceMapWithTheDriverNameBeside) {
    SystemPortList system;
    SerialCommValues values;
    values.Add("\\Device\\TarnikTest250", REG_SZ, kMissingPort);
    values.Add("\\Device\\TarnikTestBinary", REG_BINARY, "COM251");
    const std::vector<PortInfo> ports = ListSerialPorts();
    bool found = false;
    for (const PortInfo& port : ports) {
        EXPECT_NE(port.name, "COM251") << "a value that is not a string was listed";
        if (port.name == kMissingPort) {
            found = true;
            EXPECT_EQ(port.description, "\\Device\\TarnikTest250");
        }
    }
    EXPECT_TRUE(found);
}

TEST(Win32Port, MissingPortFailsWithItsReasonAndStaysClosed) {
    PlainMessagePump pump;
    TComm64 comm(pump);
    for (const char* name : {kMissingPort, "\\\\.\\COM250", "NOSUCHPORT"}) {
        comm.SetDeviceName(name);
        EXPECT_FALSE(comm.Open()) << name;
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_EQ(comm.LastOpenFailure(), OpenFailure::Missing) << name;
        // The system's own words, with the error's number.
        EXPECT_NE(comm.LastOpenErrorText().find("error "), std::string::npos) << name;
    }
    char byte = 0x55;
    EXPECT_EQ(comm.WriteBlock(&byte, 1), -1);
    EXPECT_EQ(comm.WriteBlock(&byte, 0), -2);
    EXPECT_EQ(comm.ReadBlock(&byte, 1), -1);
    EXPECT_FALSE(comm.SetDTR(true));
}

// ctest runs the tests side by side, each in a process of its own, and all of them share the
// one echo line: a named mutex gives it to one test at a time.
class EchoLineLock {
public:
    EchoLineLock() : mutex_(CreateMutexA(nullptr, FALSE, "tarnik-test-echo-line")) {
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);
    }
    ~EchoLineLock() {
        if (!mutex_) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    EchoLineLock(const EchoLineLock&) = delete;
    EchoLineLock& operator=(const EchoLineLock&) = delete;

private:
    HANDLE mutex_;
};

class Win32Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        if (EchoPort().empty()) GTEST_SKIP() << "TARNIK_TEST_ECHO_PORT is not set";
        lock_ = std::make_unique<EchoLineLock>();
        comm.SetDeviceName(EchoPort());
        comm.SetBaudRate(cbr38400);
        ASSERT_TRUE(comm.Open());
    }

    std::string Drain() {
        std::string got;
        char buffer[256];
        for (int n; (n = comm.ReadBlock(buffer, sizeof buffer)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
        return got;
    }

    void TearDown() override {
        comm.Close();
        lock_.reset();
    }

    PlainMessagePump pump;
    TComm64 comm{pump};
    std::unique_ptr<EchoLineLock> lock_;
};

TEST_F(Win32Exchange, ArrivalsReachTheHandlerOnTheMainThread) {
    std::string received;
    bool onMainThread = true;
    comm.OnRxCharSignal = [&](int count) {
        onMainThread = onMainThread && pump.OnMainThread();
        std::string part(static_cast<std::size_t>(count > 0 ? count : 1), '\0');
        const int n = comm.ReadBlock(part.data(), static_cast<int>(part.size()));
        if (n > 0) received.append(part, 0, static_cast<std::size_t>(n));
    };
    const std::string frame = "\xEE\xEE\x00\x70\x6D\x20\x6D\x46";
    ASSERT_EQ(comm.WriteBlock(frame.data(), static_cast<int>(frame.size())),
              static_cast<int>(frame.size()));
    EXPECT_TRUE(PumpUntil(pump, [&] { return received.size() >= frame.size(); }));
    EXPECT_EQ(received, frame);
    EXPECT_TRUE(onMainThread);

    // A second block after the first was taken is reported again.
    ASSERT_EQ(comm.WriteBlock("ok", 2), 2);
    EXPECT_TRUE(PumpUntil(pump, [&] { return received.size() >= frame.size() + 2; }));
    EXPECT_EQ(received.substr(frame.size()), "ok");
}

TEST_F(Win32Exchange, ShortReadEndsAfterTheGapAndAnEmptyLineTimesOut) {
    ASSERT_EQ(comm.WriteBlock("abc", 3), 3);
    std::this_thread::sleep_for(300ms);
    char buffer[16] = {};
    EXPECT_EQ(comm.ReadBlock(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    // Nothing more comes: -1, and the timed-out read leaves the port usable.
    EXPECT_EQ(comm.ReadBlock(buffer, 1), -1);
    ASSERT_EQ(comm.WriteBlock("d", 1), 1);
    EXPECT_EQ(comm.ReadBlock(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 'd');
}

TEST_F(Win32Exchange, ReopenDropsUnreadInputAndAppliesTheSettings) {
    ASSERT_EQ(comm.WriteBlock("stale", 5), 5);
    std::this_thread::sleep_for(300ms);
    comm.SetBaudRate(cbr115200);
    EXPECT_TRUE(comm.Open());
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(Drain(), "");
    ASSERT_EQ(comm.WriteBlock("fresh", 5), 5);
    EXPECT_EQ(Drain(), "fresh");
}

TEST_F(Win32Exchange, SecondOpenOfAnOpenPortIsRefusedAsInUse) {
    if (UnderWine()) GTEST_SKIP() << "wine does not refuse a second open of a serial device";
    TComm64 other(pump);
    other.SetDeviceName(EchoPort());
    EXPECT_FALSE(other.Open());
    EXPECT_EQ(other.LastOpenFailure(), OpenFailure::InUse);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(other.Open());
}

} // namespace
} // namespace tarnik
