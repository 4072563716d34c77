#include "sim/pty_session.h"

#include "tools/clock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tarnik::sim {

namespace {

int BaudOf(speed_t speed) {
    switch (speed) {
    case B110:
        return 110;
    case B300:
        return 300;
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

// Milliseconds since the emulator started, so that report times read as session times.
std::uint32_t NowMs() {
    static SteadyClock clock;
    static const std::uint32_t start = clock.TickMs();
    return clock.TickMs() - start;
}

bool WriteAll(int fd, const Text& bytes) {
    std::size_t done = 0;
    int waits = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && ++waits < 200) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        return false; // the host has no port open: the bytes are lost, as on a real line
    }
    return true;
}

} // namespace

LineSettings LineFromTermios(unsigned long speed, unsigned long cflag) {
    LineSettings line;
    line.baud = BaudOf(static_cast<speed_t>(speed));
    line.stopbits = (cflag & CSTOPB) ? sb2_0 : sb1_0;
    if (!(cflag & PARENB))
        line.parity = paNone;
    else if (cflag & CMSPAR)
        line.parity = (cflag & PARODD) ? paMark : paSpace;
    else
        line.parity = (cflag & PARODD) ? paOdd : paEven;
    switch (cflag & CSIZE) {
    case CS5:
        line.databits = da5;
        break;
    case CS6:
        line.databits = da6;
        break;
    case CS7:
        line.databits = da7;
        break;
    default:
        line.databits = da8;
        break;
    }
    return line;
}

PseudoTerminal::~PseudoTerminal() {
    ReleaseSlave();
    CloseMaster();
}

bool PseudoTerminal::Open(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = "cannot open a pseudo-terminal";
        return false;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error = "no name for the pseudo-terminal";
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) {
        error = "cannot open " + slavePath_;
        return false;
    }
    termios raw{};
    if (::tcgetattr(slave_, &raw) == 0) {
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    return true;
}

LineSettings PseudoTerminal::HostLine() const {
    termios t{};
    const int fd = slave_ >= 0 ? slave_ : master_;
    if (::tcgetattr(fd, &t) != 0) return LineSettings{0, paNone, sb1_0, da8};
    return LineFromTermios(::cfgetospeed(&t), t.c_cflag);
}

void PseudoTerminal::ReleaseSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

void PseudoTerminal::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void RunPtySession(PseudoTerminal& pty, UnitModel& model, const SessionTiming& timing) {
    const std::uint32_t start = NowMs();
    std::uint32_t lastTraffic = start;
    bool traffic = false;
    bool hungUp = false;
    std::uint32_t hangupSince = 0;
    bool finished = false;
    std::uint32_t finishedAt = 0;
    char buffer[4096];

    for (;;) {
        std::uint32_t now = NowMs();
        int waitMs = 20;
        if (const auto next = model.NextEventMs()) {
            const auto left = static_cast<std::int32_t>(*next - now);
            waitMs = left <= 0 ? 0 : std::min(waitMs, static_cast<int>(left));
        }
        // The network loader closes and reopens its port at another speed right after the
        // restart command: the settings seen before the bytes arrived may be theirs.
        const LineSettings before = pty.HostLine();
        pollfd pfd{pty.Master(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, hungUp ? 0 : waitMs);
        now = NowMs();
        bool lineDown = ready > 0 && (pfd.revents & (POLLHUP | POLLERR)) && !(pfd.revents & POLLIN);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
            if (n > 0) {
                model.OnHostBytes(Text(buffer, static_cast<std::size_t>(n)), now,
                                  model.ArrivalLine(before, pty.HostLine()));
                if (!traffic) pty.ReleaseSlave();
                traffic = true;
                lastTraffic = now;
            } else if (n < 0 && errno == EIO) {
                lineDown = true;
            }
        }
        if (lineDown) {
            // The host closed its side; it may be reopening it with other settings.
            if (!hungUp) hangupSince = now;
            hungUp = true;
            if (traffic && now - hangupSince > timing.hangupGraceMs) {
                model.Advance(now);
                model.EndSession("the host closed the port");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            hungUp = false;
        }
        const Text out = model.TakeUnitBytes(now);
        if (!out.empty()) WriteAll(pty.Master(), out);
        if (model.HungUp()) {
            pty.CloseMaster();
            return;
        }
        if (model.Finished()) {
            if (!finished) finishedAt = now;
            finished = true;
            if (!model.OutputPending() && now - finishedAt >= timing.lingerMs) return;
        } else if (now - lastTraffic > timing.idleTimeoutMs) {
            model.EndSession(traffic
                                 ? "no traffic for " + std::to_string(timing.idleTimeoutMs) + " ms"
                                 : "no host came");
            return;
        }
    }
}

} // namespace tarnik::sim
