#include "pty_pair.h"
#include "serial/port_list.h"
#include "serial/tcomm64.h"
#include "support/temp_dir.h"
#include "tools/plain_message_pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

namespace tarnik {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;

// Processes messages until pred holds or a generous time passed; pred's final value.
template <typename Pred>
bool PumpUntil(PlainMessagePump& pump, Pred pred, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred() && std::chrono::steady_clock::now() < deadline) {
        pump.WaitForWork(20ms);
        pump.processMessages();
    }
    return pred();
}

// Waits (without processing messages) until the event thread has handed an event over.
bool WaitForHandOff(PlainMessagePump& pump) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (pump.Pending() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    return pump.Pending() > 0;
}

termios MasterView(const PtyPair& pty) {
    termios t{};
    tcgetattr(pty.Master(), &t); // a master reports its slave's settings
    return t;
}

speed_t LineSpeed(const PtyPair& pty) {
    const termios t = MasterView(pty);
    return cfgetospeed(&t);
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class SerialPortTest : public ::testing::Test {
protected:
    SerialPortTest() : comm(pump) { comm.SetDeviceName(pty.SlavePath()); }

    // Collects every arrival the way the link buffer does: read what the driver holds.
    void BindReader() {
        comm.OnRxCharSignal = [this](int count) {
            handlerThreads.push_back(std::this_thread::get_id());
            std::string block(static_cast<std::size_t>(std::max(count, 1)), '\0');
            const int n = comm.ReadBlock(block.data(), count);
            if (n > 0) received += block.substr(0, static_cast<std::size_t>(n));
        };
    }

    PtyPair pty;
    PlainMessagePump pump;
    TComm64 comm;
    std::string received;
    std::vector<std::thread::id> handlerThreads;
};

TEST(SerialNames, PortNamesMapToDevices) {
    EXPECT_EQ(SystemPortPath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SystemPortPath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(SystemPortPath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SystemPortPath("com12"), "/dev/ttyS11");
    EXPECT_EQ(SystemPortPath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(SystemPortPath("COMX"), "/dev/COMX");
    EXPECT_EQ(SystemPortPath("COM0"), "/dev/COM0");
}

TEST(SerialNames, PortListGivenInTheEnvironmentReplacesTheSystemListing) {
    EXPECT_TRUE(ParsePortList("").empty());
    const std::vector<PortInfo> parsed = ParsePortList("/dev/pts/91::ttyUSB7:");
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0].name, "/dev/pts/91");
    EXPECT_EQ(parsed[1].name, "ttyUSB7");
    EXPECT_EQ(parsed[1].description, "");

    // Set, the variable keeps the listing away from the machine's devices (and so from the
    // console on ttyS0); set but empty, it lists nothing.
    const char* old = std::getenv("TARNIK_SERIAL_PORTS");
    const std::optional<std::string> previous =
        old ? std::optional<std::string>(old) : std::nullopt;
    setenv("TARNIK_SERIAL_PORTS", "/dev/tarnik-no-such-port", 1);
    const std::vector<PortInfo> listed = ListSerialPorts();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "/dev/tarnik-no-such-port");
    setenv("TARNIK_SERIAL_PORTS", "", 1);
    EXPECT_TRUE(ListSerialPorts().empty());
    if (previous)
        setenv("TARNIK_SERIAL_PORTS", previous->c_str(), 1);
    else
        unsetenv("TARNIK_SERIAL_PORTS");
}

TEST(SerialComponent, DefaultsAndClosedPortRequests) {
    PlainMessagePump pump;
    TComm64 comm(pump);
    EXPECT_EQ(comm.DeviceName(), "COM2");
    EXPECT_EQ(comm.BaudRate(), cbr2400);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.Stopbits(), sb1_0);
    EXPECT_EQ(comm.Databits(), da8);
    EXPECT_EQ(comm.MonitorEvents, kAllEvents);
    EXPECT_EQ(comm.ReadBufferSize, 1024);
    EXPECT_EQ(comm.WriteBufferSize, 1024);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.SetDTR(true));
    char buffer[4];
    EXPECT_EQ(comm.ReadBlock(buffer, 4), -1);
    EXPECT_EQ(comm.ReadBlock(buffer, 0), -1);
    EXPECT_EQ(comm.WriteBlock("x", 0), -2);
    EXPECT_EQ(comm.WriteBlock("x", 1), -1);
    comm.Close(); // nothing to do
    comm.SetBaudRate(cbr38400);
    EXPECT_EQ(comm.BaudRate(), cbr38400);
}

TEST(SerialComponent, FailedOpenTellsWhy) {
    testing::TempDir dir;
    PlainMessagePump pump;
    TComm64 comm(pump);
    comm.SetDeviceName((dir / "no-such-port").string());
    EXPECT_FALSE(comm.Open());
    EXPECT_EQ(comm.LastOpenFailure(), OpenFailure::Missing);
    EXPECT_EQ(comm.LastOpenErrorText(), "No such file or directory (" + comm.DeviceName() + ")");

    testing::WriteFile(dir / "plain-file", "x");
    comm.SetDeviceName((dir / "plain-file").string());
    EXPECT_FALSE(comm.Open());
    EXPECT_EQ(comm.LastOpenFailure(), OpenFailure::NotATerminal);
    EXPECT_FALSE(comm.LastOpenErrorText().empty());
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(SerialPortTest, SecondOpenOfTheSamePortIsRefused) {
    ASSERT_TRUE(comm.Open());
    TComm64 other(pump);
    other.SetDeviceName(pty.SlavePath());
    EXPECT_FALSE(other.Open());
    EXPECT_EQ(other.LastOpenFailure(), OpenFailure::InUse);
    EXPECT_FALSE(other.IsOpen());

    EXPECT_EQ(comm.WriteBlock("ok", 2), 2); // the holder is not disturbed
    EXPECT_EQ(pty.Read(2), "ok");
    comm.Close();
    EXPECT_TRUE(other.Open());
}

TEST_F(SerialPortTest, LineSettingsReachTheLine) {
    comm.SetStopbits(sb2_0);
    comm.SetParity(paEven); // a pseudo-terminal drops parity, but the port must still open
    const speed_t speeds[] = {B110,   B300,   B1200,   B2400,   B4800,   B9600,  B19200,
                              B38400, B57600, B115200, B230400, B460800, B921600};
    for (int rate = cbr110; rate <= cbr921600; ++rate) {
        comm.SetBaudRate(static_cast<TBaudRate>(rate));
        ASSERT_TRUE(comm.Open()) << rate;
        const termios t = MasterView(pty);
        EXPECT_EQ(cfgetospeed(&t), speeds[rate]) << rate;
        EXPECT_TRUE(t.c_cflag & CSTOPB);
        EXPECT_TRUE(t.c_cflag & CLOCAL);
        EXPECT_FALSE(t.c_lflag & (ICANON | ECHO)); // raw: bytes pass untouched
    }

    // Written on an open port, a setting applies at once.
    comm.SetBaudRate(cbr19200);
    EXPECT_EQ(LineSpeed(pty), B19200);
    comm.SetStopbits(sb1_5);
    EXPECT_TRUE(MasterView(pty).c_cflag & CSTOPB);
    comm.SetStopbits(sb1_0);
    EXPECT_FALSE(MasterView(pty).c_cflag & CSTOPB);

    // Written on a closed port, it waits for the next Open.
    comm.Close();
    comm.SetBaudRate(cbr57600);
    EXPECT_EQ(LineSpeed(pty), B19200);
    ASSERT_TRUE(comm.Open());
    EXPECT_EQ(LineSpeed(pty), B57600);
}

TEST_F(SerialPortTest, BlocksTravelBothWays) {
    ASSERT_TRUE(comm.Open());
    const std::string out("\x01\x00\xFF\r\n", 5);
    EXPECT_EQ(comm.WriteBlock(out.data(), 5), 5);
    EXPECT_EQ(pty.Read(5), out);

    pty.Write(std::string("\x45\x00\x0D", 3));
    char in[3] = {};
    EXPECT_EQ(comm.ReadBlock(in, 3), 3);
    EXPECT_EQ(std::string(in, 3), std::string("\x45\x00\x0D", 3));
    EXPECT_FALSE(comm.SetDTR(true)); // no modem lines on a pseudo-terminal
}

TEST_F(SerialPortTest, ReadBlockGivesWhatCameOrMinusOne) {
    ASSERT_TRUE(comm.Open());
    char in[16] = {};
    EXPECT_EQ(comm.ReadBlock(in, 4), -1); // nothing arrives

    pty.Write("abc");
    EXPECT_EQ(comm.ReadBlock(in, 16), 3); // fewer than asked: the pause ends the block
    EXPECT_EQ(std::string(in, 3), "abc");
}

TEST_F(SerialPortTest, ReadBlockStillTricklingAtTheTimeLimitFails) {
    ASSERT_TRUE(comm.Open());
    std::atomic<bool> stop{false};
    // One byte every 100 ms: never a pause long enough to end the block, never complete.
    std::thread trickle([&] {
        while (!stop) {
            pty.Write("x");
            std::this_thread::sleep_for(100ms);
        }
    });
    char in[100] = {};
    const int got = comm.ReadBlock(in, 100);
    stop = true;
    trickle.join();
    EXPECT_EQ(got, -1);
}

TEST_F(SerialPortTest, ArrivalsRunOnTheMainThreadOnlyWhenMessagesAreProcessed) {
    BindReader();
    ASSERT_TRUE(comm.Open());
    pty.Write("E\r");
    ASSERT_TRUE(WaitForHandOff(pump));
    EXPECT_TRUE(handlerThreads.empty());

    ASSERT_TRUE(PumpUntil(pump, [&] { return received.size() >= 2; }));
    EXPECT_EQ(received, "E\r");
    for (auto id : handlerThreads)
        EXPECT_EQ(id, std::this_thread::get_id());

    pty.Write("more");
    ASSERT_TRUE(PumpUntil(pump, [&] { return received.size() >= 6; }));
    EXPECT_EQ(received, "E\rmore");
}

TEST_F(SerialPortTest, CloseRunsThePendingHandOffAndEnds) {
    BindReader();
    ASSERT_TRUE(comm.Open());
    pty.Write("xy");
    ASSERT_TRUE(WaitForHandOff(pump));
    comm.Close(); // must not wait for a main thread that is itself waiting
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(handlerThreads.size(), 1u);
    EXPECT_EQ(pump.Pending(), 0u);
}

TEST_F(SerialPortTest, OpenOnAnOpenPortReopensWithoutOldInput) {
    ASSERT_TRUE(comm.Open());
    pty.Write("stale");
    ASSERT_TRUE(WaitForHandOff(pump)); // no handler bound: the event is consumed silently
    ASSERT_TRUE(comm.Open());
    EXPECT_TRUE(comm.IsOpen());
    char in[8];
    EXPECT_EQ(comm.ReadBlock(in, 8), -1);
    EXPECT_EQ(comm.WriteBlock("new", 3), 3);
    EXPECT_EQ(pty.Read(3), "new");
}

TEST_F(SerialPortTest, FailingHandlerDoesNotStopTheThread) {
    int calls = 0;
    comm.OnRxCharSignal = [&](int count) {
        ++calls;
        std::string block(static_cast<std::size_t>(count), '\0');
        comm.ReadBlock(block.data(), count);
        if (calls == 1) throw std::runtime_error("handler failure");
    };
    ASSERT_TRUE(comm.Open());
    pty.Write("1");
    ASSERT_TRUE(PumpUntil(pump, [&] { return calls == 1; }));
    pty.Write("2");
    EXPECT_TRUE(PumpUntil(pump, [&] { return calls == 2; }));
}

TEST_F(SerialPortTest, CloseAskedForInsideADispatchHappensAfterIt) {
    bool openInside = false;
    comm.OnRxCharSignal = [&](int) {
        comm.Close();
        openInside = comm.IsOpen();
    };
    ASSERT_TRUE(comm.Open());
    pty.Write("z");
    ASSERT_TRUE(PumpUntil(pump, [&] { return !comm.IsOpen(); }));
    EXPECT_TRUE(openInside);
}

TEST_F(SerialPortTest, ReopenAskedForInsideADispatchHappensAfterIt) {
    int calls = 0;
    comm.OnRxCharSignal = [&](int count) {
        ++calls;
        std::string block(static_cast<std::size_t>(count), '\0');
        received += block.substr(
            0, static_cast<std::size_t>(std::max(comm.ReadBlock(block.data(), count), 0)));
        if (calls == 1) {
            comm.SetBaudRate(cbr115200);
            EXPECT_TRUE(comm.Open());
        }
    };
    ASSERT_TRUE(comm.Open());
    pty.Write("a");
    ASSERT_TRUE(PumpUntil(pump, [&] { return calls == 1; }));
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(LineSpeed(pty), B115200);
    pty.Write("b"); // the new event thread delivers
    ASSERT_TRUE(PumpUntil(pump, [&] { return calls == 2; }));
    EXPECT_EQ(received, "ab");
}

TEST_F(SerialPortTest, HangUpNeitherSpinsNorDelivers) {
    BindReader();
    ASSERT_TRUE(comm.Open());
    pty.Write("abc");
    ASSERT_TRUE(PumpUntil(pump, [&] { return received.size() >= 3; }));
    pty.CloseMaster();

    const double cpuBefore = ProcessCpuSeconds();
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < until) {
        pump.WaitForWork(20ms);
        pump.processMessages();
    }
    // A thread spinning on the hang-up would burn about the whole time.
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.5);

    char in[4];
    EXPECT_EQ(comm.ReadBlock(in, 4), -1);
    EXPECT_EQ(comm.WriteBlock("x", 1), -1);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(SerialPortTest, UnreadInputNeitherSpinsNorBlocksLaterArrivals) {
    ASSERT_TRUE(comm.Open());
    pty.Write("ignored"); // no handler takes it: the event is consumed, the bytes stay
    ASSERT_TRUE(WaitForHandOff(pump));
    pump.processMessages();

    const double cpuBefore = ProcessCpuSeconds();
    const auto until = std::chrono::steady_clock::now() + 1000ms;
    while (std::chrono::steady_clock::now() < until) {
        pump.WaitForWork(20ms);
        pump.processMessages();
    }
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.4);

    BindReader();
    pty.Write("!"); // a new arrival raises the event again
    ASSERT_TRUE(PumpUntil(pump, [&] { return received.size() >= 8; }));
    EXPECT_EQ(received, "ignored!");
}

// A backend without a device: records what the component asks of it.
class RecordingBackend final : public SerialBackend {
public:
    bool Open(const std::string&, int, int, OpenFailure&, std::string&) override {
        return open_ = true;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void ApplyField(LineField field, const LineConfig&) override { applied.push_back(field); }
    bool SetDTR(bool) override { return true; }
    int Read(void*, int) override { return -1; }
    int Write(const void*, int count) override { return count; }
    PortStatus ClearError() override { return {0x0008, 7, false}; }
    bool ModemStatus(std::uint32_t& status) override {
        status = kModemCtsOn;
        return true;
    }
    std::unique_ptr<EventWaiter> CreateWaiter(std::uint32_t) override {
        return std::make_unique<IdleWaiter>();
    }

    std::vector<LineField> applied;

private:
    class IdleWaiter final : public EventWaiter {
    public:
        Result Wait(std::uint32_t&) override {
            std::unique_lock lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(kEventWaitMs), [&] { return stop_; });
            return stop_ ? Result::Stopped : Result::TimedOut;
        }
        void Stop() override {
            std::lock_guard lock(mutex_);
            stop_ = true;
            cv_.notify_all();
        }

    private:
        std::mutex mutex_;
        std::condition_variable cv_;
        bool stop_ = false;
    };

    bool open_ = false;
};

class SerialDispatchTest : public ::testing::Test {
protected:
    SerialDispatchTest() {
        auto owned = std::make_unique<RecordingBackend>();
        backend = owned.get();
        comm = std::make_unique<TComm64>(pump, std::move(owned));
    }
    void BindAll() {
        comm->OnRxCharSignal = [&](int n) { order.push_back("rx" + std::to_string(n)); };
        comm->OnRxFlagSignal = [&] { order.push_back("flag"); };
        comm->OnCTSSignal = [&](bool on) { order.push_back(on ? "cts1" : "cts0"); };
        comm->OnBreakSignal = [&] { order.push_back("break"); };
        comm->OnDSRSignal = [&](bool on) { order.push_back(on ? "dsr1" : "dsr0"); };
        comm->OnErrorSignal = [&](int e) { order.push_back("error" + std::to_string(e)); };
        comm->OnRingSignal = [&] { order.push_back("ring"); };
        comm->OnRLSDSignal = [&] { order.push_back("rlsd"); };
        comm->OnTxEmptySignal = [&] { order.push_back("txempty"); };
    }

    PlainMessagePump pump;
    RecordingBackend* backend = nullptr;
    std::unique_ptr<TComm64> comm;
    std::vector<std::string> order;
};

TEST_F(SerialDispatchTest, HandlersRunInTheComponentOrder) {
    BindAll();
    ASSERT_TRUE(comm->Open());
    comm->DispatchEvents(0x01FF);
    const std::vector<std::string> expected = {"rx7",    "flag", "cts1", "break",  "dsr1",
                                               "error8", "ring", "rlsd", "txempty"};
    EXPECT_EQ(order, expected);

    order.clear();
    comm->DispatchEvents(kEventTxEmpty | kEventRxChar);
    EXPECT_EQ(order, (std::vector<std::string>{"rx7", "txempty"}));
}

TEST_F(SerialDispatchTest, FailingHandlerSkipsTheRestOfTheMask) {
    BindAll();
    comm->OnBreakSignal = [&] { throw std::runtime_error("break handler"); };
    ASSERT_TRUE(comm->Open());
    comm->DispatchEvents(0x01FF);
    EXPECT_EQ(order, (std::vector<std::string>{"rx7", "flag", "cts1"}));
    order.clear();
    comm->DispatchEvents(kEventRxChar); // the next event is served again
    EXPECT_EQ(order, (std::vector<std::string>{"rx7"}));
}

TEST_F(SerialDispatchTest, OnlyAChangedSettingGoesToTheOpenPort) {
    ASSERT_TRUE(comm->Open());
    const std::vector<LineField> atOpen = {LineField::BaudRate, LineField::Parity,
                                           LineField::Stopbits, LineField::Databits};
    EXPECT_EQ(backend->applied, atOpen);
    backend->applied.clear();
    comm->SetParity(paOdd);
    comm->SetDatabits(da7);
    EXPECT_EQ(backend->applied, (std::vector<LineField>{LineField::Parity, LineField::Databits}));
}

} // namespace
} // namespace tarnik
