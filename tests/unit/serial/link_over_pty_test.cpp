// The link buffer over the real port component and a pseudo-terminal, at the line settings
// of every unit family.
#include "pty_pair.h"
#include "serial/tcomm64.h"
#include "serial/tfustaw.h"
#include "tools/plain_message_pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <termios.h>
#include <vector>

namespace tarnik {
namespace {

using namespace std::chrono_literals;

struct UnitLine {
    TBaudRate baudRate;
    TParity parity;
    TStopbits stopbits;
    speed_t speed;
};

class RecordingLog final : public LogSink {
public:
    void LogLine(const Text& line) override { lines.push_back(line); }
    std::vector<Text> lines;
};

class SerialLinkTest : public ::testing::TestWithParam<UnitLine> {
protected:
    SerialLinkTest() : comm(pump), link(comm, pump, clock, log) {
        link.FormCreate();
        comm.SetDeviceName(pty.SlavePath());
        comm.MonitorEvents = EventSet(evRxChar);
        comm.SetBaudRate(GetParam().baudRate);
        comm.SetParity(GetParam().parity);
        comm.SetStopbits(GetParam().stopbits);
    }

    bool PumpUntil(const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!pred() && std::chrono::steady_clock::now() < deadline) {
            pump.WaitForWork(20ms);
            pump.processMessages();
        }
        return pred();
    }

    testing::PtyPair pty;
    PlainMessagePump pump;
    SteadyClock clock;
    RecordingLog log;
    TComm64 comm;
    TFUstaw link;
};

TEST_P(SerialLinkTest, BlocksBothWaysWithTraceAndHangUp) {
    ASSERT_TRUE(comm.Open());
    termios t{};
    tcgetattr(pty.Master(), &t);
    EXPECT_EQ(cfgetospeed(&t), GetParam().speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, GetParam().stopbits != sb1_0);

    link.SendText(std::string("\x45\x00\x0D", 3));
    EXPECT_EQ(pty.Read(3), std::string("\x45\x00\x0D", 3));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "TX: 45 00 0D ");

    pty.Write("\xEE\x06");
    ASSERT_TRUE(PumpUntil([&] { return link.GetRxText().size() >= 2; }));
    EXPECT_EQ(link.GetRxText(), "\xEE\x06");
    EXPECT_EQ(log.lines.back(), "RX:EE 06 ");
    EXPECT_EQ(link.RxRingPos, 2);

    pty.CloseMaster();
    link.SendText("A"); // goes nowhere, traced all the same, and the failure is told
    ASSERT_GE(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[log.lines.size() - 2], "TX: 41 ");
    EXPECT_EQ(log.lines.back().rfind("Write to port " + comm.DeviceName() + " failed", 0), 0u);
    const auto until = std::chrono::steady_clock::now() + 600ms;
    while (std::chrono::steady_clock::now() < until) {
        pump.WaitForWork(20ms);
        pump.processMessages();
    }
    EXPECT_EQ(link.GetRxText(), "\xEE\x06");
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
}

std::string Describe(const UnitLine& line) {
    const char parity[] = {'N', 'O', 'E', 'M', 'S'};
    return std::to_string(BaudRateBits(line.baudRate)) + parity[line.parity] +
           (line.stopbits == sb1_0 ? "1" : "2");
}

void PrintTo(const UnitLine& line, std::ostream* os) {
    *os << Describe(line);
}

std::string LineName(const ::testing::TestParamInfo<UnitLine>& info) {
    return Describe(info.param);
}

INSTANTIATE_TEST_SUITE_P(UnitFamilies, SerialLinkTest,
                         ::testing::Values(UnitLine{cbr9600, paNone, sb1_0, B9600},
                                           UnitLine{cbr19200, paNone, sb1_0, B19200},
                                           UnitLine{cbr38400, paNone, sb1_0, B38400},
                                           UnitLine{cbr4800, paEven, sb2_0, B4800},
                                           UnitLine{cbr57600, paNone, sb2_0, B57600}),
                         LineName);

} // namespace
} // namespace tarnik
