#pragma once

#include <string>

// The program names ports as the instrument's users know them, COM1 to COM20 (zero-based index
// 0 to 19). This is the one place that says which device path each name stands for.
constexpr int PortCount = 20;

// "COM<index + 1>".
std::string portDisplayName(int index);

#ifdef _WIN32
// The native device "\\.\COM<index + 1>". An index outside 0-19 names no device (empty path).
std::string portDevicePath(int index);

// Whether Windows knows a device of that name now (plugged in, driver loaded), held or not.
bool portDeviceExists(int index);
#else
// The environment variable VANDREL_COM<index + 1> when it is set and not empty; otherwise
// COM1-COM4 are /dev/ttyS0-3, COM5-COM12 /dev/ttyUSB0-7 and COM13-COM20 /dev/ttyACM0-7.
// An index outside 0-19 names no device (empty path).
std::string portDevicePath(int index);

// Name of the variable that overrides the path of the given index.
std::string portOverrideVariable(int index);
#endif
