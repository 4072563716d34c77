// The serial port on POSIX systems: a terminal device in raw mode, exclusive to this
// program, with the event wait done by poll().
#include "serial/port_list.h"
#include "serial/posix/line_settings.h"
#include "serial/serial_backend.h"
#include "tools/system_error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace tarnik {

namespace {

using SteadyTime = std::chrono::steady_clock;

// While the other end is gone, the port is looked at again this often.
constexpr int kLineDownRetryMs = 500;
// While received bytes wait unread, the queue is checked for growth this often.
constexpr int kBacklogCheckMs = 50;

int MsUntil(SteadyTime::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

OpenFailure FailureOf(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return OpenFailure::Missing;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenFailure::InUse;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailure::PermissionDenied;
    default:
        return OpenFailure::Other;
    }
}

// Bytes waiting in the input queue, or -1 when the port cannot tell (gone).
int QueuedBytes(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

// Every answer of a unit waits for a byte or two; USB adapters otherwise hold received bytes
// for several milliseconds. Drivers that do not know the request refuse it, which is fine.
void RequestLowLatency(int fd) {
#ifdef __linux__
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    MakeRawLine(t);
    tcsetattr(fd, TCSANOW, &t);
}

// Another program (or another open in this one) already holds the port; errorText says how.
bool HeldElsewhere(int fd, std::string& errorText) {
#ifdef TIOCGEXCL
    // The exclusive flag does not keep out a privileged process, so look at it as well.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        errorText = "the port is held in exclusive mode";
        return true;
    }
#endif
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
    errorText = "the port is locked: " + ErrnoText(errno);
    return true;
}

class PosixEventWaiter final : public EventWaiter {
public:
    PosixEventWaiter(int port, std::uint32_t mask)
        : port_(port), watchRx_((mask & kEventRxChar) != 0) {
        if (pipe(wake_) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        for (int fd : wake_) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PosixEventWaiter() override {
        close(wake_[0]);
        close(wake_[1]);
    }
    PosixEventWaiter(const PosixEventWaiter&) = delete;
    PosixEventWaiter& operator=(const PosixEventWaiter&) = delete;

    Result Wait(std::uint32_t& mask) override {
        if (!watchRx_) return Sleep(kEventWaitMs) ? Result::Stopped : Result::TimedOut;
        switch (mode_) {
        case Mode::LineDown:
            return WaitLineDown();
        case Mode::Backlog:
            return WaitBacklog(mask);
        case Mode::Watch:
            break;
        }
        return WaitArrival(mask);
    }

    void Dispatched(bool inputTaken) override {
        const int queued = QueuedBytes(port_);
        if (queued < 0) mode_ = Mode::LineDown;
        if (mode_ == Mode::LineDown) return;
        if (queued == 0 || inputTaken) {
            mode_ = Mode::Watch;
            return;
        }
        // Nobody takes the bytes: the descriptor stays readable, so poll() would return at
        // once. Wait for more bytes instead, as a character-received event does.
        mode_ = Mode::Backlog;
        backlog_ = queued;
    }

    void Stop() override {
        const char one = 1;
        [[maybe_unused]] const auto written = write(wake_[1], &one, 1);
    }

private:
    enum class Mode { Watch, Backlog, LineDown };

    Result WaitArrival(std::uint32_t& mask) {
        pollfd fds[2] = {{port_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int r = poll(fds, 2, kEventWaitMs);
        if (r < 0 && errno == EINTR) return Result::TimedOut;
        if (fds[1].revents != 0) return Result::Stopped;
        if (r == 0) return Result::TimedOut;
        const int queued = QueuedBytes(port_);
        // Hang-up, error, or readable with nothing to read (end of file): the other end is
        // gone and the descriptor would stay ready, so stop watching it for a while.
        if (r < 0 || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) || queued <= 0)
            mode_ = Mode::LineDown;
        if (queued <= 0) return Result::TimedOut;
        mask = kEventRxChar;
        return Result::Event;
    }

    Result WaitLineDown() {
        if (Sleep(kLineDownRetryMs)) return Result::Stopped;
        mode_ = Mode::Watch;
        return Result::TimedOut;
    }

    Result WaitBacklog(std::uint32_t& mask) {
        if (Sleep(kBacklogCheckMs)) return Result::Stopped;
        const int queued = QueuedBytes(port_);
        if (queued < 0) {
            mode_ = Mode::LineDown;
        } else if (queued > backlog_) {
            mode_ = Mode::Watch;
            mask = kEventRxChar;
            return Result::Event;
        } else {
            backlog_ = queued;
            if (queued == 0) mode_ = Mode::Watch;
        }
        return Result::TimedOut;
    }

    // Waits on the wake-up pipe only; true when told to stop.
    bool Sleep(int ms) {
        pollfd fd{wake_[0], POLLIN, 0};
        return poll(&fd, 1, ms) > 0;
    }

    const int port_;
    const bool watchRx_;
    int wake_[2] = {-1, -1};
    Mode mode_ = Mode::Watch;
    int backlog_ = 0;
};

class PosixBackend final : public SerialBackend {
public:
    ~PosixBackend() override { Close(); }

    bool Open(const std::string& deviceName, int /*readQueue*/, int /*writeQueue*/,
              OpenFailure& why, std::string& errorText) override {
        // The terminal driver sizes its own queues; the requested sizes have no equivalent.
        const std::string path = SystemPortPath(deviceName);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            why = FailureOf(errno);
            errorText = ErrnoText(errno) + " (" + path + ")";
            return false;
        }
        if (!isatty(fd)) {
            errorText = ErrnoText(errno) + " (" + path + ")";
            ::close(fd);
            why = OpenFailure::NotATerminal;
            return false;
        }
        if (HeldElsewhere(fd, errorText)) {
            ::close(fd);
            why = OpenFailure::InUse;
            return false;
        }
        ioctl(fd, TIOCEXCL);
        RequestLowLatency(fd);
        MakeRaw(fd);
        fd_ = fd;
        return true;
    }

    void Close() override {
        if (fd_ < 0) return;
        tcflush(fd_, TCIFLUSH);
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    void ApplyField(LineField field, const LineConfig& line) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return;
        ApplyLineField(t, field, line);
        // Pseudo-terminals refuse parity with EINVAL; the port still works, so go on.
        tcsetattr(fd_, TCSANOW, &t);
    }

    bool SetDTR(bool value) override {
        int bits = TIOCM_DTR;
        return ioctl(fd_, value ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    int Read(void* buffer, int count) override {
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        const auto deadline = SteadyTime::now() + std::chrono::milliseconds(kTransferWaitMs);
        int got = 0;
        while (got < count) {
            const ssize_t r = ::read(fd_, bytes + got, static_cast<std::size_t>(count - got));
            if (r > 0) {
                got += static_cast<int>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break; // line gone
            // A block still arriving when the time is up has not completed: it is a failed
            // transfer, not a short one.
            const int left = MsUntil(deadline);
            if (left <= 0) return -1;
            // The first byte may take the whole time; after it, a pause ends the block.
            if (!WaitReady(POLLIN, got == 0 ? left : std::min(kByteGapMs, left))) {
                if (MsUntil(deadline) <= 0) return -1;
                break;
            }
        }
        return got > 0 ? got : -1;
    }

    int Write(const void* buffer, int count) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        const auto deadline = SteadyTime::now() + std::chrono::milliseconds(kTransferWaitMs);
        int done = 0;
        while (done < count) {
            const ssize_t r = ::write(fd_, bytes + done, static_cast<std::size_t>(count - done));
            if (r > 0) {
                done += static_cast<int>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            const int left = MsUntil(deadline);
            if (left <= 0 || !WaitReady(POLLOUT, left)) return -1;
        }
        return done;
    }

    PortStatus ClearError() override {
        PortStatus status;
        status.inputCount = std::max(QueuedBytes(fd_), 0);
        return status;
    }

    bool ModemStatus(std::uint32_t& status) override {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) return false;
        status = 0;
        if (lines & TIOCM_CTS) status |= 0x0010;
        if (lines & TIOCM_DSR) status |= 0x0020;
        if (lines & TIOCM_RNG) status |= 0x0040;
        if (lines & TIOCM_CAR) status |= 0x0080;
        return true;
    }

    std::unique_ptr<EventWaiter> CreateWaiter(std::uint32_t systemMask) override {
        return std::make_unique<PosixEventWaiter>(fd_, systemMask);
    }

private:
    // Waits until the port is ready for events; false on time-out, hang-up or error.
    bool WaitReady(short events, int ms) {
        for (;;) {
            pollfd fd{fd_, events, 0};
            const int r = poll(&fd, 1, ms);
            if (r < 0 && errno == EINTR) continue;
            return r > 0 && (fd.revents & events) != 0;
        }
    }

    int fd_ = -1;
};

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create() {
    return std::make_unique<PosixBackend>();
}

} // namespace tarnik
