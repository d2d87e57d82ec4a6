#pragma once

#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <QEvent>
#include <QRect>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Event;
class SerialReceiver;

// The client window that shows the waveform. Every picture is made off-screen in BackBuffer, by
// the RenderThread once per frame the receiver announces and by the window's thread after a size
// change; a paint only copies the finished picture.
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

    // Draws DisplayFrame into the BackBuffer; the caller asks for the repaint. Returns the part of
    // the widget the picture changed in, in widget coordinates rounded outwards.
    QRect RenderFrame();

    // On the window's thread, after acquisition started or stopped or the port changed: renders
    // once, so the first overlay line does not wait for a frame that a silent line never sends.
    void OnAcquisitionChanged();

    // A copy of the current picture, in device pixels.
    QImage backBufferImage() const;
    // Passes the RenderThread has completed.
    std::uint64_t renderPassCount() const { return PassCount.load(); }
    // The longest a paint has waited for the view lock, which a render holds while it draws.
    std::chrono::nanoseconds longestPaintWait() const
    {
        return std::chrono::nanoseconds(LongestPaintWait.load());
    }
    // Whether the RenderThread has made its run-flag test and waits for a frame.
    bool renderThreadWaiting() const { return Waiting.load(); }
    // Called on the RenderThread at the start of every pass, before the frame is copied. Set it
    // before OnCreate.
    void setPassHook(std::function<void()> hook) { PassHook = std::move(hook); }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct ThreadLink;

    void OnSize();
    void RenderThreadProc(const std::shared_ptr<ThreadLink> &link, SerialReceiver *receiver,
                          const std::shared_ptr<Event> &frameEvent,
                          const std::function<void()> &hook);
    QImage makeBackBuffer() const;
    void requestRepaint(const QRect &changed);
    static QEvent::Type repaintRequestType();

    std::unique_ptr<QBrush> BackgroundBrush;
    std::unique_ptr<QPen> TracePen;
    std::unique_ptr<QPen> BorderPen;
    std::unique_ptr<QPen> GridPen;
    std::unique_ptr<QBrush> TextBrush;
    std::unique_ptr<QFont> TextFont;
    std::unique_ptr<QImage> BackBuffer;
    SerialReceiver *Receiver = nullptr;
    ScopeFrame DisplayFrame;
    std::thread RenderThread;
    std::atomic<int> RenderRunFlag {1};
    std::shared_ptr<Event> FrameEventHandle;
    // Guards BackBuffer, the drawing objects, DisplayFrame and Renderer.
    mutable std::mutex ViewLock;

    WaveformRenderer Renderer;
    std::shared_ptr<ThreadLink> Link;
    std::function<void()> PassHook;
    std::atomic<std::uint64_t> PassCount {0};
    std::atomic<bool> Waiting {false};
    std::atomic<std::int64_t> LongestPaintWait {0};
    // Guards SpareRepaintRequest and PendingRepaint.
    std::mutex RepaintLock;
    std::unique_ptr<QEvent> SpareRepaintRequest;
    // What the passes since the last repaint request was delivered changed, in widget coordinates.
    QRect PendingRepaint;
    bool Created = false;
};
