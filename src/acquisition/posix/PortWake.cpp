#include "PortWake.h"

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

PortWake::PortWake()
    : Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

PortWake::~PortWake()
{
    if (Fd >= 0)
        ::close(Fd);
}

int PortWake::descriptor() const
{
    return Fd;
}

void PortWake::wake()
{
    if (Fd >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(Fd, &one, sizeof one);
    }
}

void PortWake::clear()
{
    std::uint64_t count = 0;
    if (Fd >= 0)
        (void)!::read(Fd, &count, sizeof count);
}

bool PortWake::isWoken() const
{
    pollfd fd {Fd, POLLIN, 0};
    return Fd >= 0 && ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

void PortWake::pause(std::chrono::milliseconds duration) const
{
    if (Fd < 0) {
        std::this_thread::sleep_for(duration);
        return;
    }
    pollfd fd {Fd, POLLIN, 0};
    (void)::poll(&fd, 1, static_cast<int>(duration.count()));
}
