#include "DeviceCheck.h"

#include "PseudoTerminal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The state as an unprivileged user sees it: root may open everything. Asked in a child that
// gives up root, when the test runs as root.
std::optional<DeviceState> stateForNobody(const std::string &path)
{
    if (::geteuid() != 0)
        return deviceState(path);
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(static_cast<int>(deviceState(path)));
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 100)
        return std::nullopt;
    return static_cast<DeviceState>(WEXITSTATUS(status));
}

TEST(DeviceCheck, ATerminalIsOpenableOnlyWithPermissionAndOtherNodesAreNoTerminals)
{
    PseudoTerminal pty;
    EXPECT_EQ(deviceState(pty.slavePath()), DeviceState::Terminal);
    EXPECT_EQ(deviceState("/dev/null"), DeviceState::NotTerminal);
    EXPECT_EQ(deviceState("/"), DeviceState::NotTerminal);
    EXPECT_EQ(deviceState("/nonexistent/vandrel"), DeviceState::Absent);

    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(pty.slavePath().c_str(), 0, 0), 0);
    }
    EXPECT_EQ(stateForNobody(pty.slavePath()), DeviceState::NoPermission);
}

} // namespace
