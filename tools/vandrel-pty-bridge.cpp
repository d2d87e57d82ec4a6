// Links two new pseudo-terminals like a null-modem cable: bytes written to one device arrive at
// the other. Under Wine each can be mapped to a COM port, so a test program can write, with
// WriteFile on one port, the bytes that the code under test reads from the other.

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void onStopSignal(int)
{
    StopRequested = 1;
}

constexpr const char *Usage = R"(Usage: vandrel-pty-bridge

Creates two pseudo-terminals linked like a null-modem cable and prints their device paths, one
per line. Runs until SIGINT or SIGTERM.
)";

struct Side
{
    int Master = -1;
    // Held open for the bridge's whole life: the master would otherwise report a hang-up, and
    // lose what was written, each time the program under test closes its port.
    int Slave = -1;
    std::array<char, 64> Path {};
};

bool openSide(Side &side)
{
    termios raw {};
    ::cfmakeraw(&raw);
    if (::openpty(&side.Master, &side.Slave, side.Path.data(), &raw, nullptr) != 0) {
        std::fprintf(stderr, "vandrel-pty-bridge: openpty: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// Copies what one master has to the other; false when the bridge cannot go on.
bool forward(int from, int to)
{
    char buffer[4096];
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    for (ssize_t done = 0; done < n;) {
        const ssize_t written = ::write(to, buffer + done, static_cast<size_t>(n - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fputs(Usage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    struct sigaction stop
    {
    };
    stop.sa_handler = onStopSignal;
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);

    Side first;
    Side second;
    if (!openSide(first) || !openSide(second))
        return 1;
    std::printf("%s\n%s\n", first.Path.data(), second.Path.data());
    std::fflush(stdout);

    while (!StopRequested) {
        pollfd fds[2] = {{first.Master, POLLIN, 0}, {second.Master, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if ((fds[0].revents & POLLIN) && !forward(first.Master, second.Master))
            return 1;
        if ((fds[1].revents & POLLIN) && !forward(second.Master, first.Master))
            return 1;
    }
    return 0;
}
