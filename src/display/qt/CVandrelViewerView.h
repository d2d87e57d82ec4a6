#pragma once

#include "RenderLoop.h"
#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <QEvent>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

class SerialReceiver;

// The client window that shows the waveform. Every picture is made off-screen in BackBuffer, by
// the RenderThread once per frame the receiver announces and by the window's thread after a size
// change, and then handed over to the picture a paint copies; a paint never waits for a render.
class CVandrelViewerView : public QWidget
{
public:
    explicit CVandrelViewerView(QWidget *parent = nullptr);
    ~CVandrelViewerView() override;
    CVandrelViewerView(const CVandrelViewerView &) = delete;
    CVandrelViewerView &operator=(const CVandrelViewerView &) = delete;

    // Before OnCreate: the receiver whose frames are shown. Not owned.
    void SetReceiver(SerialReceiver *receiver);

    // Makes the drawing objects and the BackBuffer, then starts the RenderThread. Throws
    // ReceiverError("Cannot start a thread for receive.") when the thread cannot start; the
    // drawing objects stay for OnDestroy then. A view is created once; later calls do nothing.
    void OnCreate();
    // Stops the RenderThread (at most 3000 ms), then frees the drawing objects. Idempotent.
    void OnDestroy();

    // On the window's thread: draws DisplayFrame with the receiver's state now and shows it.
    void RenderFrame();

    // On the window's thread, after acquisition started or stopped or the port changed: renders
    // once, so the first overlay line does not wait for a frame that a silent line never sends.
    void OnAcquisitionChanged() { RenderFrame(); }

    // A copy of the picture a paint shows, in device pixels.
    QImage backBufferImage() const;
    // Passes the RenderThread has completed.
    std::uint64_t renderPassCount() const { return RenderThread.passCount(); }
    // The longest a paint has waited to reach the picture, which only a hand-over holds.
    std::chrono::nanoseconds longestPaintWait() const
    {
        return std::chrono::nanoseconds(LongestPaintWait.load());
    }

protected:
    // For tests, which take a pass's steps on a thread of their own to place them exactly against
    // the window's thread: the RenderThread's steps, and a call on the window's thread when a
    // size change has put its new BackBuffer in place and not yet drawn it.
    RenderLoop::Client &renderPassSteps() const;
    virtual void backBufferReplaced() { }

    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct Canvas;
    struct Shown;

    void OnSize();
    QImage makeBackBuffer() const;
    static QEvent::Type repaintRequestType();

    SerialReceiver *Receiver = nullptr;
    // Drawing objects, BackBuffer, DisplayFrame and renderer, shared with the RenderThread, which
    // may outlive the view once abandoned; then the last finished picture, which a paint copies.
    std::shared_ptr<Canvas> Drawing;
    std::shared_ptr<Shown> Picture;
    // Holds the receiver's FrameEvent while it runs.
    RenderLoop RenderThread;
    bool Created = false;
    std::atomic<std::int64_t> LongestPaintWait {0};
};
