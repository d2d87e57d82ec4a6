#pragma once

#include "CMainFrame.h"
#include "CpuShare.h"
#include "OverlayText.h"
#include "ScopeFrame.h"
#include "SerialReceiver.h"
#include "WaveformRenderer.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WindowTestSupport.h"

namespace Faults {

// Resident size of this process in kB, from /proc/self/status; 0 when unreadable.
inline long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// Share of one core the process used while the event loop ran for the given time.
inline double cpuShareWhileWaiting(int milliseconds)
{
    const CpuShare meter;
    QTest::qWait(milliseconds);
    return meter.share();
}

// What the view must show for this frame and connection state: the renderer's one-pass picture
// at the view's current size.
inline QImage expectedPicture(const CVandrelViewerView &view, const ScopeFrame &frame, bool running,
                              int port)
{
    const QImage shown = view.backBufferImage();
    QImage picture(shown.size(), shown.format());
    picture.setDevicePixelRatio(shown.devicePixelRatio());
    WaveformRenderer::renderDirect(picture, WaveformRenderer::StandardTools().tools(), frame,
                                   overlayTexts(frame, running, port));
    return picture;
}

// Whether the view's picture settles on what it must show for the receiver's latest frame.
inline bool viewShows(CVandrelViewerView &view, const SerialReceiver &receiver, bool running,
                      int port)
{
    return QTest::qWaitFor(
        [&] {
            ScopeFrame frame;
            receiver.copyFrame(frame);
            const QImage shown = view.backBufferImage();
            return !shown.isNull() && shown == expectedPicture(view, frame, running, port);
        },
        WaitBoundMs);
}

// Creates and shows the frame like the program does, active so that its keys reach it.
inline void showFrame(CMainFrame &frame)
{
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
}

inline void pressSpace(CMainFrame &frame)
{
    QTest::keyClick(&frame.view(), Qt::Key_Space);
}

} // namespace Faults
