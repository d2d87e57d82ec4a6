#include "SerialPort.h"
#include "PseudoTerminal.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SerialPort, AppliesTheInstrumentsLineSettings)
{
    PseudoTerminal pty;
    pty.watchSlave();
    // Leave the kind of settings a previous user might have: echo, canonical mode, XON/XOFF.
    termios dirty {};
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &dirty), 0);
    dirty.c_lflag |= ECHO | ICANON;
    dirty.c_iflag |= IXON | IXOFF | ICRNL;
    dirty.c_cflag |= PARENB | CSTOPB;
    ASSERT_EQ(::tcsetattr(pty.watchFd(), TCSANOW, &dirty), 0);

    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath())) << std::strerror(port.errorNumber());
    termios settings {};
    ASSERT_EQ(::tcgetattr(pty.watchFd(), &settings), 0);
    // The character size is not checked: pseudo-terminals always report CS8.
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(ISTRIP));
    EXPECT_EQ(settings.c_lflag & (ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 10);
    EXPECT_EQ(::cfgetispeed(&settings), static_cast<speed_t>(B19200));
}

TEST(SerialPort, RefusesMissingDevicesNonTerminalsAndASecondOpener)
{
    SerialPort port;
    EXPECT_FALSE(port.open("/dev/vandrel-no-such-device"));
    EXPECT_EQ(port.errorNumber(), ENOENT);
    EXPECT_FALSE(port.isOpen());

    EXPECT_FALSE(port.open("/dev/null"));
    EXPECT_EQ(port.errorNumber(), ENOTTY);

    PseudoTerminal pty;
    SerialPort first;
    ASSERT_TRUE(first.open(pty.slavePath()));
    SerialPort second;
    EXPECT_FALSE(second.open(pty.slavePath()));
    EXPECT_EQ(second.errorNumber(), EBUSY);
    first.close();
    first.close();
    EXPECT_TRUE(second.open(pty.slavePath())) << "closing must release the device";
}

TEST(SerialPort, ReadsOneByteAtATimeWithBitSevenClear)
{
    PseudoTerminal pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(pty.write(std::vector<std::uint8_t> {0x41, 0xC2, 0xFC, 0x00}));
    for (std::uint8_t expected : {0x41, 0x42, 0x7C, 0x00}) {
        const SerialPort::Read read = port.readByte(5000ms);
        ASSERT_EQ(read.Status, SerialPort::ReadStatus::Byte);
        EXPECT_EQ(read.Value, expected);
    }
    const auto before = Clock::now();
    EXPECT_EQ(port.readByte(200ms).Status, SerialPort::ReadStatus::TimedOut);
    EXPECT_LT(Clock::now() - before, 2000ms);
}

TEST(SerialPort, HangUpIsAFailureNotATimeOut)
{
    PseudoTerminal pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(pty.write(std::vector<std::uint8_t> {0x11, 0x22}));
    ASSERT_EQ(port.readByte(5000ms).Value, 0x11);
    pty.closeMaster();

    // Whatever was still queued may come first; then every read fails at once.
    const auto before = Clock::now();
    SerialPort::Read read = port.readByte(5000ms);
    if (read.Status == SerialPort::ReadStatus::Byte) {
        EXPECT_EQ(read.Value, 0x22);
        read = port.readByte(5000ms);
    }
    EXPECT_EQ(read.Status, SerialPort::ReadStatus::Failed);
    EXPECT_NE(read.ErrorNumber, 0);
    EXPECT_EQ(port.readByte(5000ms).Status, SerialPort::ReadStatus::Failed);
    EXPECT_LT(Clock::now() - before, 2500ms);
}

TEST(SerialPort, CancelDescriptorCutsTheWaitShortAndConsumesNothing)
{
    PseudoTerminal pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const int cancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(cancel, 0);
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(cancel, &one, sizeof one), static_cast<ssize_t>(sizeof one));

    const auto before = Clock::now();
    EXPECT_EQ(port.readByte(5000ms, cancel).Status, SerialPort::ReadStatus::Interrupted);
    EXPECT_LT(Clock::now() - before, 2500ms);
    ASSERT_TRUE(pty.write(std::vector<std::uint8_t> {0x33}));
    const SerialPort::Read read = port.readByte(5000ms);
    EXPECT_EQ(read.Status, SerialPort::ReadStatus::Byte);
    EXPECT_EQ(read.Value, 0x33);
    ::close(cancel);
}

} // namespace
