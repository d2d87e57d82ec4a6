#pragma once

#include <string>

// What the settings dialog can tell about a device path without opening it: opening a serial
// device raises its modem lines, which the instrument must not see outside a connection.
enum class DeviceState {
    Terminal, // a terminal device that this user may open for reading
    NotTerminal, // exists, but is no terminal (a file, /dev/null, a directory)
    NoPermission, // a terminal, or something behind a directory, this user may not open
    Absent,
};

DeviceState deviceState(const std::string &path);
