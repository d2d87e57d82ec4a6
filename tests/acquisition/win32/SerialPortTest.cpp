#include "SerialPort.h"
#include "LinkedPorts.h"
#include "PortNames.h"
#include "PortWake.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HANDLE openDirect(int index, DWORD access = GENERIC_READ)
{
    return ::CreateFileW(comPath(index).c_str(), access, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsPortNames, NativeDevicesOnly)
{
    EXPECT_EQ(portDevicePath(0), "\\\\.\\COM1");
    EXPECT_EQ(portDevicePath(19), "\\\\.\\COM20");
    EXPECT_EQ(portDevicePath(-1), "");
    EXPECT_EQ(portDevicePath(20), "");
    EXPECT_EQ(portDisplayName(9), "COM10");
    EXPECT_TRUE(portDeviceExists(ReaderIndex));
    EXPECT_FALSE(portDeviceExists(-1));
    EXPECT_FALSE(portDeviceExists(20));
}

TEST(WindowsSerialPort, OpensExclusivelyAndReplacesWhateverSettingsThePortHad)
{
    // Leave settings behind that the instrument's line must not have.
    const HANDLE dirty = openDirect(ReaderIndex);
    ASSERT_NE(dirty, INVALID_HANDLE_VALUE);
    DCB before {};
    before.DCBlength = sizeof before;
    before.BaudRate = CBR_9600;
    before.ByteSize = 8;
    before.Parity = EVENPARITY;
    before.StopBits = TWOSTOPBITS;
    before.fOutxCtsFlow = 1;
    before.fOutX = 1;
    before.fInX = 1;
    ASSERT_TRUE(::SetCommState(dirty, &before));
    ::CloseHandle(dirty);

    SerialPort port;
    ASSERT_TRUE(port.open(portDevicePath(ReaderIndex)));
    EXPECT_TRUE(port.isOpen());
    if (!underWine()) {
        EXPECT_EQ(openDirect(ReaderIndex), INVALID_HANDLE_VALUE)
            << "share mode 0: no second opener";
    }
    port.close();

    // The line settings stay with the device after the handle is gone.
    const HANDLE check = openDirect(ReaderIndex);
    ASSERT_NE(check, INVALID_HANDLE_VALUE) << "close() must release the port";
    DCB after {};
    after.DCBlength = sizeof after;
    ASSERT_TRUE(::GetCommState(check, &after));
    ::CloseHandle(check);
    EXPECT_EQ(after.BaudRate, static_cast<DWORD>(CBR_19200));
    EXPECT_EQ(after.Parity, NOPARITY);
    EXPECT_EQ(after.StopBits, ONESTOPBIT);
    EXPECT_EQ(after.fOutxCtsFlow, 0u);
    EXPECT_EQ(after.fOutxDsrFlow, 0u);
    EXPECT_EQ(after.fOutX, 0u);
    EXPECT_EQ(after.fInX, 0u);

    SerialPort missing;
    EXPECT_FALSE(missing.open(portDevicePath(MissingIndex)));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.errorNumber(), missingPortError());
    EXPECT_EQ(missing.readByte(1000ms).Status, SerialPort::ReadStatus::Failed);
}

TEST(WindowsSerialPort, ReadsOneByteAtATimeAndTimesOutAfterASecond)
{
    LinkedPorts link;
    ASSERT_TRUE(link.isOpen());
    SerialPort port;
    ASSERT_TRUE(port.open(portDevicePath(ReaderIndex)));
    ASSERT_TRUE(link.write(std::vector<std::uint8_t> {0x41, 0xC2, 0xFC, 0x00}));
    for (std::uint8_t expected : {0x41, 0x42, 0x7C, 0x00}) { // bit 7 cleared
        const SerialPort::Read read = port.readByte(1000ms);
        ASSERT_EQ(read.Status, SerialPort::ReadStatus::Byte);
        EXPECT_EQ(read.Value, expected);
    }
    const auto before = Clock::now();
    EXPECT_EQ(port.readByte(1000ms).Status, SerialPort::ReadStatus::TimedOut);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    std::cout << "read time-out: " << took.count() << " ms\n";
    EXPECT_GE(took, 900ms) << "500 ms per byte plus 500 ms";
    EXPECT_TRUE(link.readAvailable(200ms).empty()) << "nothing may be written to the port";
}

// Reads with a time-out far beyond any test's, so only a cancel can end the read in time.
struct LongRead
{
    bool Started = false;
    BOOL Done = FALSE;
    DWORD Error = ERROR_SUCCESS;
    DWORD Count = 0;
};

LongRead readUntilCancelled(HANDLE handle, PortWake &wake)
{
    LongRead result;
    std::thread reader([&] {
        if (!wake.beginRead(handle))
            return;
        result.Started = true;
        std::uint8_t byte = 0;
        result.Done = ::ReadFile(handle, &byte, 1, &result.Count, nullptr);
        result.Error = result.Done ? ERROR_SUCCESS : ::GetLastError();
        wake.endRead();
    });
    // Mostly lands while the read waits; a wake before it started is tried again by the caller.
    std::this_thread::sleep_for(200ms);
    wake.wake();
    reader.join();
    return result;
}

TEST(WindowsSerialPort, WakeCancelsTheSynchronousReadUnderWay)
{
    if (underWine())
        GTEST_SKIP() << "Wine cannot cancel a synchronous read on a COM port";
    const HANDLE handle = openDirect(ReaderIndex);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS timeouts {};
    timeouts.ReadTotalTimeoutConstant = 30000;
    ASSERT_TRUE(::SetCommTimeouts(handle, &timeouts));
    PortWake wake;
    LongRead read;
    for (int attempt = 0; attempt < 5 && !read.Started; ++attempt) {
        wake.clear();
        read = readUntilCancelled(handle, wake);
    }
    ::CloseHandle(handle);
    ASSERT_TRUE(read.Started);
    EXPECT_FALSE(read.Done) << "the read ran its course; it was not cancelled";
    EXPECT_EQ(read.Error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST(WindowsSerialPort, WokenReadsEndAtOnceUntilCleared)
{
    LinkedPorts link;
    ASSERT_TRUE(link.isOpen());
    SerialPort port;
    ASSERT_TRUE(port.open(portDevicePath(ReaderIndex)));
    PortWake wake;
    wake.wake();
    EXPECT_TRUE(wake.isWoken());
    ASSERT_TRUE(link.write(std::vector<std::uint8_t> {0x21}));
    EXPECT_EQ(port.readByte(1000ms, &wake).Status, SerialPort::ReadStatus::Interrupted);
    EXPECT_EQ(port.readByte(1000ms, &wake).Status, SerialPort::ReadStatus::Interrupted);
    const auto before = Clock::now();
    wake.pause(10000ms);
    EXPECT_LT(Clock::now() - before, 2500ms);

    wake.clear();
    EXPECT_FALSE(wake.isWoken());
    const SerialPort::Read read = port.readByte(1000ms, &wake);
    EXPECT_EQ(read.Status, SerialPort::ReadStatus::Byte) << "an interrupted read consumes nothing";
    EXPECT_EQ(read.Value, 0x21);
}

} // namespace
