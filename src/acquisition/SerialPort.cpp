#include "SerialPort.h"

#include "PortWake.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Built from a cleared block rather than the device's current settings, so nothing a previous user
// of the device left behind (echo, canonical mode, flow control) survives.
void applyLineSettings(int fd)
{
    termios settings {};
    settings.c_iflag = ISTRIP; // 7-bit line: bit 7 is clear in every byte read
    settings.c_oflag = 0;
    settings.c_cflag = CS7 | CREAD | CLOCAL;
    settings.c_lflag = 0; // raw, and above all no echo: the link is receive-only
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 10;
    ::cfsetispeed(&settings, B19200);
    ::cfsetospeed(&settings, B19200);
    // Pseudo-terminals and some adapters refuse parts of this; the link works without them.
    (void)::tcsetattr(fd, TCSANOW, &settings);
}

} // namespace

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open(const std::string &devicePath)
{
    close();
    Path = devicePath;
    ErrorNumber = 0;
    // Non-blocking so that neither the open (carrier) nor a read can hang: poll() times the reads.
    const int fd = ::open(devicePath.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ErrorNumber = errno;
        return false;
    }
    if (!::isatty(fd)) {
        ErrorNumber = ENOTTY;
        ::close(fd);
        return false;
    }
    // TIOCEXCL turns away later openers, but not root; the advisory lock covers that case among
    // programs that take it too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ErrorNumber = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    (void)::ioctl(fd, TIOCEXCL);
    // Opening a tty raises DTR and RTS; the instrument expects both low.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
    applyLineSettings(fd);
    Fd = fd;
    return true;
}

void SerialPort::close()
{
    if (Fd >= 0) {
        (void)::ioctl(Fd, TIOCNXCL);
        ::close(Fd); // also drops the flock
        Fd = -1;
    }
}

bool SerialPort::isOpen() const
{
    return Fd >= 0;
}

SerialPort::Read SerialPort::readByte(std::chrono::milliseconds timeout, const PortWake *wake)
{
    const int cancelFd = wake ? wake->descriptor() : -1;
    using Clock = std::chrono::steady_clock;
    Read result;
    if (Fd < 0) {
        result.ErrorNumber = EBADF;
        return result;
    }
    // A frame arrives in one burst, so most reads find their byte already queued: take it without
    // a poll first. Anything else (nothing queued, a hang-up, an error) is judged by the poll
    // below.
    std::uint8_t queued = 0;
    if (::read(Fd, &queued, 1) == 1) {
        result.Status = ReadStatus::Byte;
        result.Value = queued & 0x7F;
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fds[2] = {{Fd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, cancelFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            result.ErrorNumber = errno;
            return result;
        }
        if (cancelFd >= 0 && (fds[1].revents & POLLIN)) {
            result.Status = ReadStatus::Interrupted;
            return result;
        }
        if (ready == 0) {
            result.Status = ReadStatus::TimedOut;
            return result;
        }
        const short events = fds[0].revents;
        if (events & POLLNVAL) {
            result.ErrorNumber = EBADF;
            return result;
        }
        // Bytes still queued when the device hung up are delivered first; the hang-up shows as
        // an end of file or EIO on the read after them.
        if (events & POLLIN) {
            std::uint8_t byte = 0;
            const ssize_t n = ::read(Fd, &byte, 1);
            if (n == 1) {
                result.Status = ReadStatus::Byte;
                // Also when the device refused ISTRIP: the line carries 7 data bits.
                result.Value = byte & 0x7F;
                return result;
            }
            if (n == 0) {
                result.ErrorNumber = EIO;
                return result;
            }
            if (errno != EAGAIN && errno != EINTR) {
                result.ErrorNumber = errno;
                return result;
            }
        } else if (events & (POLLHUP | POLLERR)) {
            result.ErrorNumber = (events & POLLHUP) ? EIO : ENXIO;
            return result;
        }
        if (Clock::now() >= deadline) {
            result.Status = ReadStatus::TimedOut;
            return result;
        }
    }
}
