#include "SerialPort.h"

#include "PortWake.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A background process that changes its controlling terminal's settings is stopped by SIGTTOU
// unless the signal is blocked, in which case the change is simply made. open() refuses that
// terminal, but a stopped program with no window is the one failure the user cannot even see.
int setSettings(int fd, const termios &settings)
{
    sigset_t terminalSignals;
    sigset_t previous;
    sigemptyset(&terminalSignals);
    sigaddset(&terminalSignals, SIGTTOU);
    sigaddset(&terminalSignals, SIGTTIN);
    (void)::pthread_sigmask(SIG_BLOCK, &terminalSignals, &previous);
    const int result = ::tcsetattr(fd, TCSANOW, &settings);
    (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

// The terminal behind a descriptor: through /dev/tty or /dev/console the device itself, not the
// alias.
bool terminalDevice(int fd, dev_t &device)
{
    unsigned int real = 0;
    if (::ioctl(fd, TIOCGDEV, &real) == 0) {
        device = static_cast<dev_t>(real);
        return true;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    device = status.st_rdev;
    return true;
}

// Whether the device is the terminal the user started us from: the controlling terminal or one
// that a standard descriptor reads or writes (also after the session has let go of it).
bool isUsersTerminal(int fd)
{
    const pid_t session = ::tcgetsid(fd);
    if (session != -1 && session == ::getsid(0))
        return true;
    dev_t device = 0;
    if (!terminalDevice(fd, device))
        return false;
    const auto same = [device](int other) {
        dev_t otherDevice = 0;
        return ::isatty(other) && terminalDevice(other, otherDevice) && otherDevice == device;
    };
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        if (same(standard))
            return true;
    }
    const int controlling = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (controlling < 0)
        return false; // no controlling terminal
    const bool own = same(controlling);
    ::close(controlling);
    return own;
}

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
    (void)setSettings(fd, settings);
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
    OwnTerminal = false;
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
    // Checked before anything is changed: the user's own terminal is busy being a terminal.
    if (isUsersTerminal(fd)) {
        OwnTerminal = true;
        ErrorNumber = EBUSY;
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
    // Put back on release, as a careful serial program does: the device may be someone's
    // terminal or a line another program set up.
    termios saved {};
    if (::tcgetattr(fd, &saved) == 0)
        SavedSettings = saved;
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
        // Fails harmlessly on a device that is gone.
        if (SavedSettings)
            (void)setSettings(Fd, *SavedSettings);
        SavedSettings.reset();
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
