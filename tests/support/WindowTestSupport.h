#pragma once

#include "ScopeFrame.h"
#include "SerialReceiver.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Helpers shared by the tests that drive the real window over pseudo-terminals.

// Generous bounds: the machine running the tests may be loaded by sanitizers and other builds.
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

// 137 data bytes that differ from seed to seed and contain no marker.
inline std::vector<std::uint8_t> frameData(unsigned seed)
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

// Runs the action on the modal dialog as soon as one is open; the call that opens it blocks in
// the dialog's own event loop.
inline void whenModal(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, started, action = std::move(action)] {
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        } else if (started->elapsed() > WaitBoundMs) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "no modal dialog appeared";
        }
    });
    poll->start(10);
}
