#include "pty_pair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>

namespace tarnik::testing {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no slave name");
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t r = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (r > 0) {
            done += static_cast<std::size_t>(r);
        } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fd{master_, POLLOUT, 0};
            poll(&fd, 1, 100);
        } else {
            throw std::runtime_error("master write failed");
        }
    }
}

std::string PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string got;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t r = ::read(master_, buffer, sizeof buffer);
        if (r > 0)
            got.append(buffer, static_cast<std::size_t>(r));
        else
            usleep(10000); // the slave is closed: the master reports hang-up until reopened
    }
    return got;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

} // namespace tarnik::testing
