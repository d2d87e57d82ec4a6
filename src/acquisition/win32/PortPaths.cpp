#include "PortNames.h"

#include <windows.h>

std::string portDevicePath(int index)
{
    if (index < 0 || index >= PortCount)
        return {};
    // The device namespace prefix reaches COM10 and above too, which plain "COM10" does not.
    return "\\\\.\\COM" + std::to_string(index + 1);
}

bool portDeviceExists(int index)
{
    if (index < 0 || index >= PortCount)
        return false;
    // Asks the object manager rather than opening the port, which would take it from its holder.
    const std::wstring name = L"COM" + std::to_wstring(index + 1);
    wchar_t target[512];
    // A name whose targets overflow the buffer exists all the same.
    return ::QueryDosDeviceW(name.c_str(), target, static_cast<DWORD>(std::size(target))) != 0
        || ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}
