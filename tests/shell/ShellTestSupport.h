#pragma once

#include "ScopeFrame.h"
#include "SerialReceiver.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "WindowTestSupport.h"

// Whether some process holds the device exclusively (the receiver's open does: TIOCEXCL turns
// other openers away, the lock turns away root, whom TIOCEXCL lets through).
inline bool deviceIsHeld(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}
