#include "SerialPort.h"
#include "PortWake.h"
#include "PseudoTerminal.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <termios.h>
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
