#include "CVandrelViewerView.h"

#include "Event.h"
#include "SerialReceiver.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

#include <chrono>
#include <condition_variable>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto StopTimeout = 3000ms;
// Between attempts while there is no frame event to wait on: slow enough not to spin.
constexpr auto NoEventPause = 100ms;

} // namespace

// What the RenderThread shares with the view across the view's lifetime. The thread holds the
// Mutex for the part of a pass that touches the view, so once OnDestroy has set Abandoned under
// it, a thread that overran the stop can never reach the view again.
struct CVandrelViewerView::ThreadLink
{
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Finished = false;
    bool Abandoned = false;
};

CVandrelViewerView::CVandrelViewerView(QWidget *parent)
    : QWidget(parent)
{
    // Every pixel comes from the BackBuffer, so nothing is erased between pictures.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

CVandrelViewerView::~CVandrelViewerView()
{
    OnDestroy();
}

void CVandrelViewerView::SetReceiver(SerialReceiver *receiver)
{
    Receiver = receiver;
}

QImage CVandrelViewerView::makeBackBuffer() const
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(qRound(width() * ratio), qRound(height() * ratio));
    if (pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    return image;
}

void CVandrelViewerView::OnCreate()
{
    if (Created)
        return;
    Created = true;
    {
        std::scoped_lock lock(ViewLock);
        BackBuffer = std::make_unique<QImage>(makeBackBuffer());
        BackgroundBrush = std::make_unique<QBrush>(WaveformRenderer::backgroundBrush());
        TracePen = std::make_unique<QPen>(WaveformRenderer::tracePen());
        BorderPen = std::make_unique<QPen>(WaveformRenderer::borderPen());
        GridPen = std::make_unique<QPen>(WaveformRenderer::gridPen());
        TextBrush = std::make_unique<QBrush>(WaveformRenderer::textBrush());
        TextFont = std::make_unique<QFont>(WaveformRenderer::textFont());
    }
    // Created after the first resize, the BackBuffer already has an area; it must not be shown
    // uninitialised until the next frame or resize.
    RenderFrame();
    update();

    FrameEventHandle = Receiver ? Receiver->frameEvent() : nullptr;

    {
        std::scoped_lock lock(RepaintLock);
        SpareRepaintRequest = std::make_unique<QEvent>(repaintRequestType());
    }
    auto link = std::make_shared<ThreadLink>();
    try {
        RenderThread =
            std::thread([this, link, receiver = Receiver, frameEvent = FrameEventHandle,
                         hook = PassHook] { RenderThreadProc(link, receiver, frameEvent, hook); });
    } catch (const std::system_error &) {
        throw ReceiverError("Cannot start a thread for receive.");
    }
    Link = std::move(link);
}

void CVandrelViewerView::RenderThreadProc(const std::shared_ptr<ThreadLink> &link,
                                          SerialReceiver *receiver,
                                          const std::shared_ptr<Event> &frameEvent,
                                          const std::function<void()> &hook)
{
    for (;;) {
        {
            std::unique_lock lock(link->Mutex);
            if (link->Abandoned || RenderRunFlag.load() == 0)
                break;
            if (!frameEvent) {
                link->Changed.wait_for(lock, NoEventPause);
                continue;
            }
        }
        Waiting.store(true);
        frameEvent->wait();
        Waiting.store(false);
        if (hook)
            hook();

        std::scoped_lock lock(link->Mutex);
        if (link->Abandoned)
            break;
        // Under the link's mutex, so a thread that overran the stop never reaches the receiver
        // either; outside the ViewLock, so a paint or resize never waits for the copy.
        ScopeFrame latest;
        if (receiver)
            latest.fillFrom(*receiver);
        {
            std::scoped_lock viewLock(ViewLock);
            DisplayFrame = latest;
        }
        requestRepaint(RenderFrame());
        PassCount.fetch_add(1);
    }
    std::scoped_lock lock(link->Mutex);
    link->Finished = true;
    link->Changed.notify_all();
}

// The thread goes first: it uses the drawing objects until it ends. A thread that overruns the
// stop is left to finish on its own. It is disowned under the link's mutex, which it holds
// whenever it touches the view or the receiver, so it can reach neither again. The receiver
// does not outlive the view (the frame destroys it first, right after this stop), so nothing
// may rely on that.
void CVandrelViewerView::OnDestroy()
{
    if (RenderThread.joinable()) {
        RenderRunFlag.store(0);
        if (FrameEventHandle)
            FrameEventHandle->set();
        std::unique_lock lock(Link->Mutex);
        Link->Changed.notify_all();
        if (Link->Changed.wait_for(lock, StopTimeout, [this] { return Link->Finished; })) {
            lock.unlock();
            RenderThread.join();
        } else {
            Link->Abandoned = true;
            lock.unlock();
            RenderThread.detach();
        }
    }
    RenderRunFlag.store(0);

    std::scoped_lock lock(ViewLock);
    TextFont.reset();
    TextBrush.reset();
    GridPen.reset();
    BorderPen.reset();
    TracePen.reset();
    BackBuffer.reset();
    BackgroundBrush.reset();
    Renderer.clear();
}

QEvent::Type CVandrelViewerView::repaintRequestType()
{
    static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return Type;
}

// The widget belongs to the window's thread, so the RenderThread only posts a request for a
// repaint. Requests come from a single spare event that the window's thread makes and the
// RenderThread posts: while one is on its way, later passes need none, since the repaint it
// brings shows whatever picture is newest then. Made, delivered and deleted on the window's
// thread, the event never crosses threads behind the toolkit's back; a request still queued
// when the view is deleted is discarded with it. The changed areas gather under the same lock as
// the spare, so a pass's area is either taken by the request in flight or posts a new one.
void CVandrelViewerView::requestRepaint(const QRect &changed)
{
    if (changed.isEmpty())
        return;
    QEvent *request = nullptr;
    {
        std::scoped_lock lock(RepaintLock);
        PendingRepaint |= changed;
        request = SpareRepaintRequest.release();
    }
    if (request)
        QCoreApplication::postEvent(this, request);
}

bool CVandrelViewerView::event(QEvent *event)
{
    if (event->type() != repaintRequestType())
        return QWidget::event(event);
    QRect changed;
    {
        std::scoped_lock lock(RepaintLock);
        changed = std::exchange(PendingRepaint, QRect());
        SpareRepaintRequest = std::make_unique<QEvent>(repaintRequestType());
    }
    update(changed);
    return true;
}

QRect CVandrelViewerView::RenderFrame()
{
    const bool running = Receiver && Receiver->isRunning();
    const int port = running ? Receiver->currentPort() : -1;

    std::scoped_lock lock(ViewLock);
    if (!BackBuffer || !BackgroundBrush || !TracePen || !BorderPen || !GridPen || !TextBrush
        || !TextFont)
        return {};
    const WaveformRenderer::Tools tools {*BackgroundBrush, *TracePen,  *BorderPen,
                                         *GridPen,         *TextBrush, *TextFont};
    const QRect changed = Renderer.render(*BackBuffer, tools, DisplayFrame,
                                          overlayTexts(DisplayFrame, running, port));
    // The picture's own ratio, not the widget's: they differ on another screen until the next
    // resize, and the pixels are the picture's.
    const qreal ratio = BackBuffer->devicePixelRatio();
    return QRectF(changed.x() / ratio, changed.y() / ratio, changed.width() / ratio,
                  changed.height() / ratio)
        .toAlignedRect();
}

void CVandrelViewerView::OnAcquisitionChanged()
{
    update(RenderFrame());
}

void CVandrelViewerView::OnSize()
{
    {
        std::scoped_lock lock(ViewLock);
        if (!BackBuffer)
            return;
        *BackBuffer = makeBackBuffer();
    }
    RenderFrame();
    update();
}

void CVandrelViewerView::resizeEvent(QResizeEvent *)
{
    OnSize();
}

// Copies only what the event asks for: a whole 4K picture per frame would cost more than
// drawing it.
void CVandrelViewerView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const auto asked = std::chrono::steady_clock::now();
    std::scoped_lock lock(ViewLock);
    const std::int64_t waited = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - asked)
                                    .count();
    if (waited > LongestPaintWait.load())
        LongestPaintWait.store(waited);
    const bool picture = BackBuffer && !BackBuffer->isNull();
    // Opaque painting leaves whatever no picture covers undefined: before the first picture, or
    // when a screen of another pixel ratio shrank the picture until the next resize. A picture
    // pixel only partly inside the widget's last logical pixel counts as not covering it.
    const QSizeF size = picture ? BackBuffer->deviceIndependentSize() : QSizeF();
    const QRect covered(0, 0, qFloor(size.width()), qFloor(size.height()));
    for (const QRect &bare : event->region().subtracted(covered))
        painter.fillRect(bare, WaveformRenderer::backgroundBrush());
    if (!picture)
        return;
    const qreal ratio = BackBuffer->devicePixelRatio();
    const QRectF whole(QPointF(), size);
    for (const QRect &area : event->region()) {
        // A logical pixel of margin: at a fractional ratio the area's edges fall inside device
        // pixels, which the clip to the event's region still lets through and must not miss.
        const QRectF target = QRectF(area.adjusted(-1, -1, 1, 1)).intersected(whole);
        if (target.isEmpty())
            continue;
        const QRectF source(target.x() * ratio, target.y() * ratio, target.width() * ratio,
                            target.height() * ratio);
        painter.drawImage(target, *BackBuffer, source);
    }
}

QImage CVandrelViewerView::backBufferImage() const
{
    std::scoped_lock lock(ViewLock);
    return BackBuffer ? *BackBuffer : QImage();
}
