#include "DeviceCheck.h"

#include <cerrno>
#include <climits>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Pseudo-terminal slaves have no sysfs entry; every other tty is listed in the tty class.
bool isTerminalDevice(dev_t device)
{
    const unsigned int major = ::major(device);
    if (major >= 136 && major <= 143)
        return true;
    const std::string entry =
        "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(::minor(device));
    char target[PATH_MAX];
    const ssize_t length = ::readlink(entry.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return false;
    return std::string(target, static_cast<std::size_t>(length)).find("/tty/") != std::string::npos;
}

} // namespace

DeviceState deviceState(const std::string &path)
{
    struct stat status
    {
    };
    if (::stat(path.c_str(), &status) != 0)
        return errno == EACCES ? DeviceState::NoPermission : DeviceState::Absent;
    if (!S_ISCHR(status.st_mode) || !isTerminalDevice(status.st_rdev))
        return DeviceState::NotTerminal;
    return ::access(path.c_str(), R_OK) == 0 ? DeviceState::Terminal : DeviceState::NoPermission;
}
