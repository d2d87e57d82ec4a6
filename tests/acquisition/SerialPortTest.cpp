#include "SerialPort.h"
#include "PortWake.h"
#include "PseudoTerminal.h"
#include "SerialReceiver.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SerialPort, ReplacesWhateverSettingsTheDeviceHad)
{
    PseudoTerminal pty;
    pty.watchSlave();
    termios dirty {};
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &dirty), 0);
    dirty.c_lflag |= ECHO | ICANON;
    dirty.c_iflag |= IXON | IXOFF | ICRNL;
    dirty.c_cflag |= CSTOPB | CRTSCTS;
    ASSERT_EQ(::tcsetattr(pty.watchFd(), TCSANOW, &dirty), 0);

    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    termios settings {};
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &settings), 0);
    // Not the character size: pseudo-terminals always report CS8.
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(ISTRIP));
    EXPECT_EQ(settings.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 10);
    EXPECT_EQ(::cfgetispeed(&settings), static_cast<speed_t>(B19200));

    // Released, the device has its own settings back.
    termios before {};
    ASSERT_EQ(::tcsetattr(pty.watchFd(), TCSANOW, &dirty), 0);
    port.close();
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &before), 0);
    port.open(pty.slavePath());
    port.close();
    termios after {};
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(::cfgetispeed(&after), ::cfgetispeed(&before));
    EXPECT_TRUE(after.c_lflag & ECHO) << "left raw";
}

// Runs body in a child process and answers its exit code; 99 when it was stopped by a signal
// or did not end in time (then it is killed).
int inChild(const std::function<int()> &body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    if (child < 0)
        return -1;
    const auto until = Clock::now() + 10s;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG | WUNTRACED);
        if (done == child && WIFEXITED(status))
            return WEXITSTATUS(status);
        if (done == child || Clock::now() > until) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return 99;
        }
        std::this_thread::sleep_for(10ms);
    }
}

// In the child: 0 when the device is refused as the process's own terminal, 1 when it opened,
// 2 when it failed otherwise.
int ownTerminalRefusal(const std::string &path)
{
    SerialPort port;
    if (port.open(path))
        return 1;
    return port.isOwnTerminal() && port.errorNumber() == EBUSY ? 0 : 2;
}

void awayFromTerminals()
{
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
}

TEST(SerialPort, RefusesTheTerminalTheProgramRunsFromAndLeavesItAlone)
{
    PseudoTerminal terminal;
    PseudoTerminal unrelated;
    terminal.watchSlave();
    termios shell {};
    ASSERT_EQ(::tcgetattr(terminal.watchFd(), &shell), 0);
    shell.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(::tcsetattr(terminal.watchFd(), TCSANOW, &shell), 0);
    const std::string path = terminal.slavePath();
    const std::string other = unrelated.slavePath();

    // The controlling terminal of a session, by its name and as /dev/tty, also from a process
    // in the background, which changing the terminal's settings would stop.
    EXPECT_EQ(inChild([&] {
                  if (::setsid() < 0)
                      return 10;
                  const int fd = ::open(path.c_str(), O_RDWR);
                  if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0)
                      return 11;
                  awayFromTerminals();
                  const pid_t background = ::fork();
                  if (background == 0) {
                      ::setpgid(0, 0);
                      const int byName = ownTerminalRefusal(path);
                      const int asTty = ownTerminalRefusal("/dev/tty");
                      ::_exit(byName != 0 ? 20 + byName : asTty != 0 ? 30 + asTty : 0);
                  }
                  int status = 0;
                  if (::waitpid(background, &status, WUNTRACED) != background)
                      return 12;
                  if (!WIFEXITED(status)) {
                      ::kill(background, SIGKILL);
                      return 13;
                  }
                  if (WEXITSTATUS(status) != 0)
                      return WEXITSTATUS(status);
                  return ownTerminalRefusal(other) == 1 ? 0 : 14;
              }),
              0);

    // A terminal the standard descriptors use, though it controls nothing.
    EXPECT_EQ(inChild([&] {
                  if (::setsid() < 0)
                      return 10;
                  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
                  if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0)
                      return 11;
                  if (const int refusal = ownTerminalRefusal(path); refusal != 0)
                      return refusal;
                  // The receiver passes on why, for the window to say so.
                  ::setenv("VANDREL_COM3", path.c_str(), 1);
                  SerialReceiver receiver;
                  return !receiver.openPort(2) && receiver.lastFailure().OwnTerminal ? 0 : 12;
              }),
              0);

    termios after {};
    ASSERT_EQ(::tcgetattr(terminal.watchFd(), &after), 0);
    EXPECT_EQ(after.c_lflag, shell.c_lflag) << "the user's terminal must keep its settings";
    EXPECT_EQ(after.c_iflag, shell.c_iflag);
    SerialPort port;
    EXPECT_TRUE(port.open(path)) << "anyone else's terminal is a device like another";
}

TEST(SerialPort, ReadsOneByteAtATimeUntilTimeOutOrCancel)
{
    PseudoTerminal pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(pty.write(std::vector<std::uint8_t> {0x41, 0xC2, 0xFC, 0x00}));
    for (std::uint8_t expected : {0x41, 0x42, 0x7C, 0x00}) { // bit 7 stripped
        const SerialPort::Read read = port.readByte(5000ms);
        ASSERT_EQ(read.Status, SerialPort::ReadStatus::Byte);
        EXPECT_EQ(read.Value, expected);
    }
    EXPECT_EQ(port.readByte(200ms).Status, SerialPort::ReadStatus::TimedOut);

    PortWake wake;
    wake.wake();
    const auto before = Clock::now();
    EXPECT_EQ(port.readByte(5000ms, &wake).Status, SerialPort::ReadStatus::Interrupted);
    EXPECT_LT(Clock::now() - before, 2500ms);
    wake.clear();
    EXPECT_EQ(port.readByte(200ms, &wake).Status, SerialPort::ReadStatus::TimedOut);
    EXPECT_TRUE(pty.readAvailable(100ms).empty()) << "nothing may be written to the device";
}

TEST(SerialPort, HangUpIsAFailureNotATimeOut)
{
    PseudoTerminal pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(pty.write(std::vector<std::uint8_t> {0x11, 0x22}));
    ASSERT_EQ(port.readByte(5000ms).Value, 0x11);
    pty.closeMaster();

    // What was still queued may come first; then every read fails at once.
    const auto before = Clock::now();
    SerialPort::Read read = port.readByte(5000ms);
    if (read.Status == SerialPort::ReadStatus::Byte)
        read = port.readByte(5000ms);
    EXPECT_EQ(read.Status, SerialPort::ReadStatus::Failed);
    EXPECT_NE(read.ErrorNumber, 0);
    EXPECT_EQ(port.readByte(5000ms).Status, SerialPort::ReadStatus::Failed);
    EXPECT_LT(Clock::now() - before, 2500ms);
}

} // namespace
