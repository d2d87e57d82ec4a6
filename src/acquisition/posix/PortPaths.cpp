#include "PortNames.h"

#include <cstdlib>

std::string portOverrideVariable(int index)
{
    return "VANDREL_COM" + std::to_string(index + 1);
}

std::string portDevicePath(int index)
{
    if (index < 0 || index >= PortCount)
        return {};
    // Read once per open on the UI thread; nothing in the program sets the environment.
    if (const char *overridePath = std::getenv(portOverrideVariable(index).c_str());
        overridePath && *overridePath)
        return overridePath;
    if (index < 4)
        return "/dev/ttyS" + std::to_string(index);
    if (index < 12)
        return "/dev/ttyUSB" + std::to_string(index - 4);
    return "/dev/ttyACM" + std::to_string(index - 12);
}
