#include "serial/posix/line_settings.h"

namespace tarnik {

namespace {

#ifndef B460800
#define B460800 B230400
#endif
#ifndef B921600
#define B921600 B230400
#endif

// Line speeds in the order of TBaudRate (systems without the two fastest use the next below).
constexpr speed_t kSpeeds[] = {B110,   B300,   B1200,   B2400,   B4800,   B9600,  B19200,
                               B38400, B57600, B115200, B230400, B460800, B921600};

speed_t SpeedOf(TBaudRate rate) {
    return rate <= cbr921600 ? kSpeeds[rate] : B9600;
}

void SetParity(termios& t, TParity parity) {
#ifdef CMSPAR
    constexpr tcflag_t kStick = CMSPAR;
#else
    constexpr tcflag_t kStick = 0;
#endif
    t.c_cflag &= ~(PARENB | PARODD | kStick);
    switch (parity) {
    case paNone:
        break;
    case paOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        t.c_cflag |= PARENB;
        break;
    case paMark:
        t.c_cflag |= PARENB | PARODD | kStick;
        break;
    case paSpace:
        t.c_cflag |= PARENB | kStick;
        break;
    }
}

void SetDatabits(termios& t, TDatabits bits) {
    t.c_cflag &= ~CSIZE;
    switch (bits) {
    case da4: // the smallest size a UART offers
    case da5:
        t.c_cflag |= CS5;
        break;
    case da6:
        t.c_cflag |= CS6;
        break;
    case da7:
        t.c_cflag |= CS7;
        break;
    case da8:
        t.c_cflag |= CS8;
        break;
    }
}

} // namespace

void MakeRawLine(termios& t) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
#ifdef CRTSCTS
    t.c_cflag &= ~CRTSCTS;
#endif
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With a minimum of one byte a non-blocking read reports "nothing yet" (EAGAIN); with
    // none it would return 0, which could not be told from the end of the line.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

void ApplyLineField(termios& t, LineField field, const LineConfig& line) {
    switch (field) {
    case LineField::BaudRate:
        cfsetispeed(&t, SpeedOf(line.baudRate));
        cfsetospeed(&t, SpeedOf(line.baudRate));
        break;
    case LineField::Parity:
        SetParity(t, line.parity);
        break;
    case LineField::Stopbits:
        if (line.stopbits == sb1_0)
            t.c_cflag &= ~CSTOPB;
        else
            t.c_cflag |= CSTOPB; // 1.5 stop bits exist only with 5 data bits: use 2
        break;
    case LineField::Databits:
        SetDatabits(t, line.databits);
        break;
    }
}

} // namespace tarnik
