// tarnik-pty-echo: the far end of a serial line for the Windows tests run under wine. Opens
// a pseudo-terminal, prints "PTY <path>", and sends back every byte it receives until it has
// been idle for the given number of seconds (default 600) or is ended.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 3;
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    std::printf("PTY %s\n", ptsname(master));
    std::fflush(stdout);
    // Held open so that the line stays up between the test programs that open it.
    const int keep = open(ptsname(master), O_RDWR | O_NOCTTY);
    char buffer[512];
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        const int r = poll(&fd, 1, idleSeconds * 1000);
        if (r <= 0) break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) continue;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(master, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0) break;
            done += w;
        }
    }
    if (keep >= 0) close(keep);
    return 0;
}
