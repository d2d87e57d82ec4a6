#pragma once

#include "ScopeFrame.h"
#include "ScopedEnv.h"
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

// Whether the modal dialog is ready for keys: shown, active, and holding the keyboard focus. On
// a loaded machine the activation comes a while after the dialog is shown.
inline bool modalTakesKeys(QWidget *modal)
{
    QWidget *focus = QApplication::focusWidget();
    return modal && modal->isVisible() && modal->isActiveWindow() && focus
        && (focus == modal || modal->isAncestorOf(focus));
}

// Runs the action on the modal dialog as soon as one is open and takes keys; the call that opens
// it blocks in the dialog's own event loop.
inline void whenModal(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, started, action = std::move(action)] {
        if (QWidget *modal = QApplication::activeModalWidget(); modalTakesKeys(modal)) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        } else if (started->elapsed() > WaitBoundMs) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << (modal ? "the modal dialog never took the keyboard focus"
                                    : "no modal dialog appeared");
            // Closed, so that the call that opened it returns and the test can end.
            if (modal)
                QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    });
    poll->start(10);
}
