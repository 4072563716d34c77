// tarnik-sim as a process: a host talks to it over its pseudo-terminal with plain POSIX
// calls, changes line settings the way the loader does (close, reconfigure, reopen), and
// reads the verdict from the exit status and the JSON report.
#include "host_side.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tools/log_sink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnik::sim::testing {
namespace {

using tarnik::testing::ReadFile;
using tarnik::testing::SimProcess;
using tarnik::testing::TempDir;

// The host's end of the line: a raw port at the given settings.
class HostPort {
public:
    ~HostPort() { Close(); }
    bool Open(const std::string& path, speed_t speed, bool twoStopBits, bool evenParity) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return false;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        if (twoStopBits) t.c_cflag |= CSTOPB;
        if (evenParity) t.c_cflag |= PARENB;
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        // A pseudo-terminal refuses the parity part; the speed and stop bits still apply.
        if (::tcsetattr(fd_, TCSANOW, &t) != 0 && evenParity) {
            t.c_cflag &= ~static_cast<tcflag_t>(PARENB);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
        return true;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void Write(const Text& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything that arrives within ms; stops early once `enough` bytes are in.
    Text Read(int ms, std::size_t enough = 1000) {
        Text got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buffer[512];
        while (got.size() < enough) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) break;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Sends a frame and waits for an answer of `length` bytes.
    Text Exchange(const Text& frame, std::size_t length, int ms = 2000) {
        Write(frame);
        return Read(ms, length);
    }

private:
    int fd_ = -1;
};

std::string WriteImage(const TempDir& dir, int type, int records) {
    ImageSpec spec;
    spec.unitType = type;
    spec.version = "1.05";
    spec.dateSeconds = 1700000000;
    spec.fileKey = 0x3C5A;
    for (int i = 0; i < records; ++i)
        spec.records.push_back({static_cast<std::uint16_t>(0x8000 + 32 * i),
                                Text(32, AsChar(static_cast<std::uint8_t>(i + 1))),
                                static_cast<std::uint16_t>(0x2222 + 0x1111 * i)});
    const std::string path = (dir / "unit.bin").string();
    WriteImageFile(path, BuildImage(spec));
    return path;
}

RecordList ReadRecords(const std::string& path) {
    RecordList records;
    DiscardLog log;
    EXPECT_TRUE(LoadImageRecords(path, Text(), records, log).ok());
    return records;
}

Text ExchangeCommand(HostPort& port, std::uint8_t address, std::uint16_t key, const Text& payload,
                     std::size_t answerLength, std::uint16_t& continued) {
    return port.Exchange(Command(address, key, payload, &continued), answerLength);
}

TEST(SimProcess, ProgramsAnExpanderFromItsImageOverAPseudoTerminal) {
    TempDir dir;
    const std::string image = WriteImage(dir, 1, 3);
    const std::string report = (dir / "report.json").string();
    SimProcess sim({"--type", "1", "--address", "05", "--image", image, "--report", report},
                   TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const RecordList records = ReadRecords(image);
    ASSERT_EQ(records.size(), 3u);

    HostPort port;
    ASSERT_TRUE(port.Open(sim.Pty(), B38400, false, false));
    EXPECT_EQ(port.Exchange(PlainFrame(0xFF, 5, 0x80), 7), PlainFrame(0xFF, 5, 0x80, Bytes({1})));
    port.Write(PlainFrame(0xFF, 5, 0x04));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::uint16_t k = 0;
    Text rx = ExchangeCommand(port, 5, 0x4321, Bytes({0x7B, 0x3D, 0x19}), 6, k);
    EXPECT_EQ(rx, Expected(5, k, Bytes({0x19, 0x3D, 0x7B})));
    for (std::uint8_t block = 1; block <= 2; ++block) {
        rx = ExchangeCommand(port, 5, static_cast<std::uint16_t>(0x0F00 + block), Bytes({block}), 4,
                             k);
        EXPECT_EQ(rx, Expected(5, k, Bytes({0x03})));
    }
    rx = ExchangeCommand(port, 5, 0x0505, Bytes({0x12}), 4, k);
    EXPECT_EQ(rx, Expected(5, k, Bytes({0x12})));
    for (const TLDane& r : records)
        EXPECT_EQ(port.Exchange(RecordFrame(5, r), 5), Expected(5, r.key, Bytes({0x4F, 0x01})));
    rx = ExchangeCommand(port, 5, 0x0606, Bytes({0x45, 0x4E}), 5, k);
    EXPECT_EQ(rx, Expected(5, k, Bytes({0x45, 0x4E})));
    port.Write(Command(5, 0x0707, Bytes({0x10})));

    EXPECT_EQ(sim.Wait(), 0);
    const std::string json = ReadFile(report);
    EXPECT_NE(json.find("\"verdict\": \"pass\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"complete\": true"), std::string::npos);
    EXPECT_NE(json.find("\"baud\": 38400"), std::string::npos);
    EXPECT_EQ(json.find("\"matches\": false"), std::string::npos);
}

TEST(SimProcess, NetworkModuleSeesTheSpeedSwitchAcrossAReopenedPort) {
    TempDir dir;
    const std::string image = WriteImage(dir, 9, 2);
    const std::string report = (dir / "report.json").string();
    SimProcess sim({"--type", "9", "--address", "07", "--image", image, "--report", report,
                    "--erase-ms", "20"},
                   TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const RecordList records = ReadRecords(image);
    ASSERT_EQ(records.size(), 2u);

    HostPort port;
    ASSERT_TRUE(port.Open(sim.Pty(), B4800, true, true));
    EXPECT_EQ(port.Exchange(Bytes({7}) + "ISE", 4), Bytes({7}) + "ise");
    // The loader closes the port, sets 57600 baud, no parity, 2 stop bits, and reopens it.
    port.Close();
    ASSERT_TRUE(port.Open(sim.Pty(), B57600, true, false));
    std::uint16_t k = 0;
    Text rx = ExchangeCommand(port, 7, 0x2468, Bytes({0x00}), 10, k);
    EXPECT_EQ(rx, Expected(7, k, Bytes({9, 1, 0, 5, 0, 0, 0})));
    rx = ExchangeCommand(port, 7, 0x1357, Bytes({0x01}), 4, k);
    EXPECT_EQ(rx, Expected(7, k, Bytes({0x02})));
    EXPECT_EQ(port.Exchange(RecordFrame(7, records[0]), 4),
              Expected(7, records[0].key, Bytes({0x12})));
    EXPECT_EQ(port.Exchange(RecordFrame(7, records[1]), 4),
              Expected(7, records[1].key, Bytes({0x01})));
    rx = ExchangeCommand(port, 7, 0x0F0F, Bytes({0x10}), 4, k);
    EXPECT_EQ(rx, Expected(7, k, Bytes({0x10})));

    EXPECT_EQ(sim.Wait(), 0);
    const std::string json = ReadFile(report);
    EXPECT_NE(json.find("\"verdict\": \"pass\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"baud\": 4800"), std::string::npos);
    EXPECT_NE(json.find("\"baud\": 57600, \"parity\": \"none\", \"stop_bits\": 2"),
              std::string::npos);
}

TEST(SimProcess, WrongSpeedAndAClosedPortEndTheSessionWithAFailure) {
    TempDir dir;
    const std::string report = (dir / "report.json").string();
    SimProcess sim({"--type", "1", "--report", report, "--hangup-grace-ms", "200"},
                   TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    {
        HostPort port;
        ASSERT_TRUE(port.Open(sim.Pty(), B9600, false, false));
        EXPECT_EQ(port.Exchange(PlainFrame(0xFF, 0, 0x80), 7, 300), "");
    }
    EXPECT_EQ(sim.Wait(), 1);
    const std::string json = ReadFile(report);
    EXPECT_NE(json.find("\"verdict\": \"fail\""), std::string::npos) << json;
    EXPECT_NE(json.find("9600 baud"), std::string::npos);
    EXPECT_NE(json.find("the host closed the port"), std::string::npos);
}

TEST(SimProcess, DropsTheLineAtTheChosenRecord) {
    SimProcess sim({"--type", "6", "--bootloader-active", "--hangup-at-record", "0"},
                   TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    HostPort port;
    ASSERT_TRUE(port.Open(sim.Pty(), B38400, false, false));
    std::uint16_t k = 0;
    ExchangeCommand(port, 0, 0x1111, Bytes({0x7B, 0x3D, 0x19}), 6, k);
    ExchangeCommand(port, 0, 0x2222, Bytes({0x01}), 4, k);
    ExchangeCommand(port, 0, 0x3333, Bytes({0x02}), 4, k);
    ExchangeCommand(port, 0, 0x4444, Bytes({0x12}), 4, k);
    port.Write(RecordFrame(0, S19Record(0x8000, Text(8, 'a'), 0x5555)));
    EXPECT_EQ(sim.Wait(), 0); // no host mistake; the unit's fault ended the session
    EXPECT_EQ(port.Read(200), "");
}

} // namespace
} // namespace tarnik::sim::testing
