#include "serial/tfustaw.h"
#include "tools/hexcodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tarnik {
namespace {

// Everything the link buffer does to its surroundings, in order.
using Journal = std::vector<std::string>;

class FakePort final : public CommPort {
public:
    explicit FakePort(Journal& journal) : journal_(journal) {}
    bool Open() override { return true; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    bool SetDTR(bool) override { return false; }
    int ReadBlock(void* buffer, int count) override {
        journal_.push_back("read " + std::to_string(count));
        if (count < 1 || input.empty()) return -1;
        const std::size_t n = std::min(input.size(), static_cast<std::size_t>(count));
        std::memcpy(buffer, input.data(), n);
        input.erase(0, n);
        return static_cast<int>(n);
    }
    int WriteBlock(const void* buffer, int count) override {
        journal_.push_back("write");
        written.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
        return failWrites ? -1 : count;
    }

    std::string input;
    std::string written;
    bool failWrites = false;

private:
    Journal& journal_;
};

class JournalPump final : public MessagePump {
public:
    explicit JournalPump(Journal& journal) : journal_(journal) {}
    void processMessages() override { journal_.push_back("pump"); }
    void callSync(std::function<void()> fn) override { fn(); }

private:
    Journal& journal_;
};

class JournalLog final : public LogSink {
public:
    explicit JournalLog(Journal& journal) : journal_(journal) {}
    void LogLine(const Text& line) override {
        journal_.push_back("log");
        lines.push_back(line);
    }
    std::vector<Text> lines;

private:
    Journal& journal_;
};

class FixedClock final : public Clock {
public:
    std::uint32_t TickMs() override { return 4242; }
    void SleepMs(std::uint32_t) override {}
};

class LinkBufferTest : public ::testing::Test {
protected:
    LinkBufferTest() : port(journal), pump(journal), log(journal), link(port, pump, clock, log) {
        link.FormCreate();
    }

    // Bytes 0, 1, 2, ... (mod 256) of the given length.
    static std::string Counting(std::size_t length, int start = 0) {
        std::string s(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            s[i] = static_cast<char>((start + i) & 0xFF);
        return s;
    }
    void Arrive(const std::string& bytes) {
        port.input = bytes;
        port.OnRxCharSignal(static_cast<int>(bytes.size()));
    }

    Journal journal;
    FakePort port;
    JournalPump pump;
    JournalLog log;
    FixedClock clock;
    TFUstaw link;
};

TEST_F(LinkBufferTest, ArrivalIsPumpedReadTracedAndStored) {
    Arrive(std::string("\x45\x00\x0D", 3));
    EXPECT_EQ(journal, (Journal{"pump", "read 3", "log"}));
    EXPECT_EQ(log.lines, (std::vector<Text>{"RX:45 00 0D "}));
    EXPECT_EQ(link.GetRxText(), std::string("\x45\x00\x0D", 3));
    EXPECT_EQ(link.RxRingPos, 3);
    EXPECT_EQ(link.RxRing[1], 0x00);
    EXPECT_EQ(link.RxRing[2], 0x0D);
    EXPECT_EQ(link.TickMs(), 4242u);
}

TEST_F(LinkBufferTest, OversizedArrivalKeepsTheFirst1024Bytes) {
    const std::string bytes = Counting(1500);
    Arrive(bytes);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], " CAT ! 476");
    EXPECT_EQ(log.lines[1], "RX:" + BytesToHexList(bytes.substr(0, 1024)));
    EXPECT_EQ(link.RxRingPos, 1024);
    EXPECT_EQ(link.RxRing[1023], 1023 & 0xFF);
    EXPECT_EQ(link.RxRing[1024], 0);
    EXPECT_TRUE(link.RxText.empty()); // 1024 characters pass the 1000-character limit
}

TEST_F(LinkBufferTest, ArrivalOfExactlyTheLimitIsKeptWhole) {
    Arrive(Counting(1024));
    ASSERT_EQ(log.lines.size(), 1u); // no overflow line
    EXPECT_EQ(log.lines[0].rfind("RX:", 0), 0u);
    EXPECT_EQ(link.RxRingPos, 1024);
}

// Both front ends build their port with the component's defaults (every event, COM2, 2400
// baud); the form gives it the program's stored settings.
TEST_F(LinkBufferTest, FormCreationGivesThePortTheProgramsStoredSettings) {
    FakePort fresh(journal);
    ASSERT_EQ(fresh.MonitorEvents, kAllEvents);
    TFUstaw form(fresh, pump, clock, log);
    form.FormCreate();
    EXPECT_EQ(fresh.MonitorEvents, EventSet(evRxChar));
    EXPECT_EQ(fresh.DeviceName(), "COM1");
    EXPECT_EQ(fresh.BaudRate(), cbr9600);
    EXPECT_EQ(fresh.Parity(), paNone);
    EXPECT_EQ(fresh.Stopbits(), sb1_0);
    EXPECT_EQ(fresh.Databits(), da8);
    EXPECT_EQ(fresh.ReadBufferSize, 1024);
    EXPECT_EQ(fresh.WriteBufferSize, 1024);
}

TEST_F(LinkBufferTest, ReadIsLimitedToTheReadBuffer) {
    port.input = Counting(40000);
    port.OnRxCharSignal(40000);
    EXPECT_EQ(journal[1], "read 32768");
    EXPECT_EQ(log.lines[0], " CAT ! 31744");
    EXPECT_EQ(port.input.size(), 40000u - 32768u); // the rest stays for the next event
}

TEST_F(LinkBufferTest, FailedReadStoresAndTracesNothing) {
    port.OnRxCharSignal(5); // nothing there: the read gives -1
    port.OnRxCharSignal(0);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(link.RxRingPos, 0);
    EXPECT_TRUE(link.RxText.empty());
}

TEST_F(LinkBufferTest, RingRestartsOnlyWhenABlockWouldPassTheEnd) {
    link.RxRingPos = TFUstaw::kRingSize - 10;
    Arrive(Counting(10, 1));
    EXPECT_EQ(link.RxRingPos, TFUstaw::kRingSize); // ends exactly at the end: stored in place
    EXPECT_EQ(link.RxRing[TFUstaw::kRingSize - 1], 10);

    Arrive(Counting(3, 100));
    EXPECT_EQ(link.RxRingPos, 3);
    EXPECT_EQ(link.RxRing[0], 100);

    link.RxRingPos = TFUstaw::kRingSize - 10;
    link.RxRing[11] = 0xAA;
    Arrive(Counting(11, 50)); // one byte too many: starts over at 0
    EXPECT_EQ(link.RxRingPos, 11);
    EXPECT_EQ(link.RxRing[0], 50);
    EXPECT_EQ(link.RxRing[10], 60);
    EXPECT_EQ(link.RxRing[11], 0xAA); // older bytes after the block stay
}

TEST_F(LinkBufferTest, ReceivedTextIsEmptiedPast1000Characters) {
    link.RxText = std::string(990, 'a');
    Arrive(std::string(10, 'b'));
    EXPECT_EQ(link.RxText.size(), 1000u);
    Arrive("c");
    EXPECT_TRUE(link.RxText.empty());

    link.RxText = std::string(990, 'a');
    Arrive(std::string(20, 'b'));
    EXPECT_TRUE(link.GetRxText().empty());
    EXPECT_EQ(link.RxRingPos, 31); // the ring keeps every block

    link.RxText = "xyz";
    link.ClearRxText();
    EXPECT_TRUE(link.RxText.empty());
    EXPECT_EQ(link.RxRingPos, 31);
}

TEST_F(LinkBufferTest, SendTextWritesTracesThenPumps) {
    link.SendText("E\r");
    EXPECT_EQ(port.written, "E\r");
    EXPECT_EQ(journal, (Journal{"write", "log", "pump"}));
    EXPECT_EQ(log.lines, (std::vector<Text>{"TX: 45 0D "}));

    journal.clear();
    link.SendText("");
    EXPECT_TRUE(journal.empty());

    port.failWrites = true;
    link.SendText(std::string(1, '\0'));
    // Traced although the write failed, and the failure is told.
    EXPECT_EQ(log.lines, (std::vector<Text>{"TX: 45 0D ", "TX: 00 ",
                                            "Write to port " + port.DeviceName() +
                                                " failed: time-out or line error"}));
}

TEST_F(LinkBufferTest, SendBlockSendsTheFirstCountBytes) {
    Block block{};
    block[0] = 0xEE;
    block[1] = 0x06;
    block[2] = 0xAB;
    block[3] = 0x99;
    link.SendBlock(block, 3);
    EXPECT_EQ(port.written, "\xEE\x06\xAB");
    EXPECT_EQ(log.lines, (std::vector<Text>{"TX: EE 06 AB "}));
    EXPECT_EQ(journal, (Journal{"write", "log", "pump"}));

    journal.clear();
    link.SendBlock(block, 0);
    EXPECT_TRUE(journal.empty());
}

TEST_F(LinkBufferTest, SendTimeFollowsTheBitRate) {
    port.SetBaudRate(cbr9600);
    EXPECT_EQ(link.SendTimeMs(std::string(20, 'x')), 20);
    EXPECT_EQ(link.SendTimeMs(""), 0);
    port.SetBaudRate(cbr115200);
    EXPECT_EQ(link.SendTimeMs(std::string(12, 'x')), 1);
    port.SetBaudRate(cbr110);
    EXPECT_EQ(link.SendTimeMs(std::string(1000, 'x')), 90909);
}

} // namespace
} // namespace tarnik
