#include "LinkedPorts.h"

#include <cerrno>
#include <windows.h>

namespace {

HANDLE openConfigured(int index, DWORD access)
{
    const HANDLE handle = ::CreateFileW(comPath(index).c_str(), access, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DCB settings {};
    settings.DCBlength = sizeof settings;
    settings.BaudRate = CBR_19200;
    settings.fBinary = 1;
    settings.ByteSize = 8;
    ::SetCommState(handle, &settings);
    return handle;
}

} // namespace

bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

int missingPortError()
{
    return underWine() ? ENODEV : ENOENT;
}

std::wstring comPath(int index)
{
    return L"\\\\.\\COM" + std::to_wstring(index + 1);
}

LinkedPorts::LinkedPorts()
{
    if (const HANDLE reader = openConfigured(ReaderIndex, GENERIC_READ)) {
        ::PurgeComm(reader, PURGE_RXCLEAR | PURGE_RXABORT);
        ::CloseHandle(reader);
    }
    Handle = openConfigured(1, GENERIC_READ | GENERIC_WRITE);
}

LinkedPorts::~LinkedPorts()
{
    if (Handle)
        ::CloseHandle(Handle);
}

bool LinkedPorts::write(std::span<const std::uint8_t> bytes)
{
    if (!Handle)
        return false;
    COMMTIMEOUTS timeouts {};
    timeouts.WriteTotalTimeoutConstant = 5000;
    ::SetCommTimeouts(Handle, &timeouts);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(Handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
            || written == 0)
            return false;
        bytes = bytes.subspan(written);
    }
    return true;
}

std::vector<std::uint8_t> LinkedPorts::readAvailable(std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    if (!Handle)
        return bytes;
    // Whatever is there, or the first byte within the time-out and what follows it at once.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout.count());
    ::SetCommTimeouts(Handle, &timeouts);
    std::uint8_t buffer[256];
    DWORD count = 0;
    if (::ReadFile(Handle, buffer, sizeof buffer, &count, nullptr))
        bytes.assign(buffer, buffer + count);
    return bytes;
}

std::vector<std::uint8_t> lineFrame(const std::vector<std::uint8_t> &data, std::uint8_t marker)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 1);
    bytes.push_back(marker);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}
