#include "SerialPort.h"

#include "PortWake.h"

#include <algorithm>
#include <cerrno>
#include <windows.h>

namespace {

// The receiver and the shell speak errno; these are the system errors opening a COM port
// produces.
int openErrnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    // Windows answers "access denied" to a second opener of a COM port: the port is in use.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

std::wstring widePath(const std::string &path)
{
    // Device paths are ASCII.
    return std::wstring(path.begin(), path.end());
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
    AheadNext = AheadCount = 0;
    const HANDLE handle = ::CreateFileW(widePath(devicePath).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ErrorNumber = openErrnoFor(::GetLastError());
        return false;
    }
    // A device that answers with no line state is no serial port (Wine gives a COM name mapped to
    // a missing device such a handle): refused like a missing one, as the termios port refuses
    // what is no terminal.
    DCB current {};
    current.DCBlength = sizeof current;
    if (!::GetCommState(handle, &current)) {
        ::CloseHandle(handle);
        ErrorNumber = ENODEV;
        return false;
    }
    // 500 per byte plus 500: a one-byte read returns with its byte or after 1000 ms.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = 500;
    timeouts.ReadTotalTimeoutMultiplier = 500;
    timeouts.ReadTotalTimeoutConstant = 500;
    timeouts.WriteTotalTimeoutMultiplier = 500;
    timeouts.WriteTotalTimeoutConstant = 500;
    (void)::SetCommTimeouts(handle, &timeouts);
    // From a cleared block, not the port's current settings: everything not named here, flow
    // control, DTR and RTS above all, is off.
    DCB settings {};
    settings.DCBlength = sizeof settings;
    settings.BaudRate = CBR_19200;
    settings.fBinary = 1;
    settings.ByteSize = 7;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    (void)::SetCommState(handle, &settings);
    Handle = handle;
    return true;
}

void SerialPort::close()
{
    if (Handle) {
        ::CloseHandle(Handle);
        Handle = nullptr;
    }
    AheadNext = AheadCount = 0;
}

bool SerialPort::isOpen() const
{
    return Handle != nullptr;
}

SerialPort::Read SerialPort::readByte(std::chrono::milliseconds, const PortWake *wake)
{
    Read result;
    if (!Handle) {
        result.ErrorNumber = EBADF;
        return result;
    }
    if (wake && wake->isWoken()) {
        result.Status = ReadStatus::Interrupted;
        return result;
    }
    if (AheadNext < AheadCount) {
        result.Status = ReadStatus::Byte;
        // The line carries 7 data bits, whatever the device delivers.
        result.Value = Ahead[AheadNext++] & 0x7F;
        return result;
    }
    // All that is waiting, which a read returns at once whatever the time-outs; else one byte
    // within the port's time-out.
    COMSTAT status {};
    DWORD lineErrors = 0;
    DWORD wanted = 1;
    if (::ClearCommError(Handle, &lineErrors, &status) && status.cbInQue > 1)
        wanted = std::min<DWORD>(status.cbInQue, sizeof Ahead);
    if (wake && !wake->beginRead(Handle)) {
        result.Status = ReadStatus::Interrupted;
        return result;
    }
    DWORD count = 0;
    const BOOL done = ::ReadFile(Handle, Ahead, wanted, &count, nullptr);
    const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
    if (wake)
        wake->endRead();
    if (done) {
        if (count >= 1) {
            result.Status = ReadStatus::Byte;
            result.Value = Ahead[0] & 0x7F;
            AheadNext = 1;
            AheadCount = count;
        } else {
            result.Status = ReadStatus::TimedOut;
        }
        return result;
    }
    // Only a cancel aborts a read here: the line settings keep errors from aborting reads.
    if (error == ERROR_OPERATION_ABORTED) {
        result.Status = ReadStatus::Interrupted;
        return result;
    }
    // Whatever the code (an unplugged adapter answers "access denied" or "bad command"), a port
    // that was open and fails a read has gone away or stopped answering.
    result.ErrorNumber = EIO;
    return result;
}
