#include "serial/posix/line_settings.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace tarnik {
namespace {

// A line as a pseudo-terminal cannot show it: every flag is checked on the settings that
// would be handed to a real UART.
termios RawLine() {
    termios t{};
    MakeRawLine(t);
    return t;
}

TEST(LineSettings, RawLineIsEightBitsWithoutFlowControl) {
    const termios t = RawLine();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_EQ(t.c_cc[VMIN], 1);
}

TEST(LineSettings, EveryParityReachesTheLine) {
    struct Case {
        TParity parity;
        bool enabled, odd, stick;
    };
    const Case cases[] = {{paNone, false, false, false},
                          {paOdd, true, true, false},
                          {paEven, true, false, false},
                          {paMark, true, true, true},
                          {paSpace, true, false, true}};
    for (const Case& c : cases) {
        // Start from the opposite of each flag, so a value that clears nothing is caught too.
        termios t = RawLine();
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        if (c.parity == paNone) t.c_cflag |= PARENB;
        LineConfig line;
        line.parity = c.parity;
        ApplyLineField(t, LineField::Parity, line);
        SCOPED_TRACE(static_cast<int>(c.parity));
        EXPECT_EQ((t.c_cflag & PARENB) != 0, c.enabled);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
        EXPECT_EQ((t.c_cflag & CMSPAR) != 0, c.stick);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)); // parity leaves the size
    }
}

TEST(LineSettings, StopBitsAndDataBits) {
    LineConfig line;
    termios t = RawLine();
    for (TStopbits bits : {sb2_0, sb1_0, sb1_5}) {
        line.stopbits = bits;
        ApplyLineField(t, LineField::Stopbits, line);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, bits != sb1_0) << static_cast<int>(bits);
    }
    const tcflag_t sizes[] = {CS5, CS5, CS6, CS7, CS8};
    for (TDatabits bits : {da8, da4, da5, da6, da7, da8}) {
        line.databits = bits;
        ApplyLineField(t, LineField::Databits, line);
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits]) << static_cast<int>(bits);
    }
}

TEST(LineSettings, EverySpeedAndOnlyTheChosenField) {
    const speed_t speeds[] = {B110,   B300,   B1200,   B2400,   B4800,   B9600,  B19200,
                              B38400, B57600, B115200, B230400, B460800, B921600};
    LineConfig line;
    line.parity = paEven; // not applied: only the speed field is asked for
    for (int rate = cbr110; rate <= cbr921600; ++rate) {
        termios t = RawLine();
        line.baudRate = static_cast<TBaudRate>(rate);
        ApplyLineField(t, LineField::BaudRate, line);
        EXPECT_EQ(cfgetospeed(&t), speeds[rate]) << rate;
        EXPECT_EQ(cfgetispeed(&t), speeds[rate]) << rate;
        EXPECT_FALSE(t.c_cflag & PARENB);
    }
}

} // namespace
} // namespace tarnik
