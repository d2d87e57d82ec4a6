#include "PseudoTerminal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&MasterFd, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(MasterFd, F_SETFD, FD_CLOEXEC);
    // Raw on both sides so no byte is translated or echoed on the way.
    termios settings {};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    SlavePath = name;
    // The test keeps no slave descriptor, so the program under test can open the device
    // exclusively. Write only after it has opened the device: bytes written while no slave is
    // open may be dropped by the line discipline.
    ::close(slave);
}

PseudoTerminal::~PseudoTerminal()
{
    if (WatchFd >= 0)
        ::close(WatchFd);
    closeMaster();
}

bool PseudoTerminal::write(std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (MasterFd < 0)
            return false;
        const ssize_t n = ::write(MasterFd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd pfd {MasterFd, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> PseudoTerminal::readAvailable(std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> result;
    if (MasterFd < 0)
        return result;
    pollfd pfd {MasterFd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0 || !(pfd.revents & POLLIN))
        return result;
    std::uint8_t buffer[512];
    const ssize_t n = ::read(MasterFd, buffer, sizeof buffer);
    if (n > 0)
        result.assign(buffer, buffer + n);
    return result;
}

void PseudoTerminal::closeMaster()
{
    if (MasterFd >= 0) {
        ::close(MasterFd);
        MasterFd = -1;
    }
}

void PseudoTerminal::watchSlave()
{
    if (WatchFd < 0)
        WatchFd = ::open(SlavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (WatchFd < 0)
        throw std::runtime_error("cannot open the slave side to watch it");
}

bool PseudoTerminal::waitUntilConsumed(std::chrono::milliseconds bound)
{
    if (WatchFd < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        // poll() first moves bytes still in flight from the master into the slave's input
        // queue, so "not readable" means the program has read all of them.
        pollfd pfd {WatchFd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::usleep(2000);
    }
}

std::vector<std::uint8_t> lineFrame(const std::vector<std::uint8_t> &data, std::uint8_t marker)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 1);
    bytes.push_back(marker);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}
