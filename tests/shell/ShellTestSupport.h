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

// Generous bounds: the machine running the tests may be loaded.
constexpr int WaitBoundMs = 10000;

// Sets an environment variable for the life of the object and restores it afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::string &value)
        : Name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            Previous = qgetenv(name);
        qputenv(name, QByteArray::fromStdString(value));
    }
    ~ScopedEnv()
    {
        if (Previous)
            qputenv(Name, *Previous);
        else
            qunsetenv(Name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *Name;
    std::optional<QByteArray> Previous;
};

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

// 137 data bytes that differ from seed to seed and contain no marker.
inline std::vector<std::uint8_t> frameData(std::uint8_t seed)
{
    std::vector<std::uint8_t> data(ScopeFrame::Size - 1);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>((seed * 7 + i * 3) % 0x7C);
    return data;
}

// Whether the receiver's latest frame holds these data bytes.
inline bool receiverHolds(const SerialReceiver &receiver, const std::vector<std::uint8_t> &data)
{
    ScopeFrame frame;
    receiver.copyFrame(frame);
    return std::equal(data.begin(), data.end(), frame.Bytes.begin());
}

// Runs the action on the modal dialog as soon as one is open (it is started by a call that
// blocks in the dialog's own event loop).
inline void whenModal(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, started, action = std::move(action)] {
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            poll->deleteLater();
            poll->stop();
            action(modal);
        } else if (started->elapsed() > WaitBoundMs) {
            poll->deleteLater();
            poll->stop();
            ADD_FAILURE() << "no modal dialog appeared";
        }
    });
    poll->start(10);
}
