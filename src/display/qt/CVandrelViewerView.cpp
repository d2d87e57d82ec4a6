#include "CVandrelViewerView.h"

#include "Event.h"
#include "PixelRegion.h"
#include "RenderCanvas.h"
#include "SerialReceiver.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QtMath>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

// The picture the window shows, and the repaint requests the RenderThread posts for it.
// PictureLock is held only to hand a picture over and to copy it to the screen.
struct CVandrelViewerView::Shown
{
    std::mutex PictureLock;
    QImage Image;
    // What the hand-overs since the last repaint changed, in widget coordinates.
    QRegion PendingRepaint;
    // Made, delivered and deleted on the window's thread, so the event never crosses threads
    // behind the toolkit's back; while it is on its way later passes post none, since the repaint
    // it brings shows whatever picture is newest then.
    std::unique_ptr<QEvent> SpareRepaintRequest;

    // Shows the picture, which changed from the one shown in these device pixels, and keeps the
    // one shown before in its place.
    void swapIn(QImage &picture, const QRegion &changed)
    {
        std::scoped_lock lock(PictureLock);
        std::swap(Image, picture);
        // The picture's own ratio, not the widget's: they differ on another screen until the
        // next resize, and the pixels are the picture's.
        const qreal ratio = Image.isNull() ? 1.0 : Image.devicePixelRatio();
        for (const QRect &rect : changed)
            PendingRepaint += QRectF(rect.x() / ratio, rect.y() / ratio, rect.width() / ratio,
                                     rect.height() / ratio)
                                  .toAlignedRect();
        // Hand-overs that no paint has taken yet pile up; held to the rule every changed region
        // follows.
        std::int64_t covered = 0;
        for (const QRect &rect : PendingRepaint)
            covered += std::int64_t(rect.width()) * rect.height();
        const QRect bounds = PendingRepaint.boundingRect();
        if (!ChangedRegion::worthKeeping(std::size_t(PendingRepaint.rectCount()), covered,
                                         std::int64_t(bounds.width()) * bounds.height()))
            PendingRepaint = bounds;
    }
};

// The drawing objects and the BackBuffer, shared with the RenderThread.
struct CVandrelViewerView::Canvas : RenderCanvas
{
    Canvas(CVandrelViewerView *view, std::shared_ptr<Shown> picture, const SerialReceiver *receiver)
        : RenderCanvas(receiver)
        , View(view)
        , Picture(std::move(picture))
    { }

    CVandrelViewerView *const View;
    const std::shared_ptr<Shown> Picture;
    // All below under ViewLock.
    std::unique_ptr<QBrush> BackgroundBrush;
    std::unique_ptr<QPen> TracePen;
    std::unique_ptr<QPen> BorderPen;
    std::unique_ptr<QPen> GridPen;
    std::unique_ptr<QBrush> TextBrush;
    std::unique_ptr<QFont> TextFont;
    std::unique_ptr<QImage> BackBuffer;
    // Knows both bitmaps a view draws into in turn, so each is brought up to date from how it
    // was drawn last, and a hand-over copies nothing.
    WaveformRenderer Renderer;
    // Drawn since the last hand-over, and the device pixels that changed in BackBuffer since it
    // was shown last.
    bool Fresh = false;
    QRegion Unshown;
    // The device pixels the last hand-over changed, and the texts of the pictures drawn and shown.
    QRegion LastHandOver;
    OverlayTexts DrawnTexts;
    OverlayTexts ShownTexts;

    using RenderCanvas::ViewLock;

    void draw() override
    {
        if (!BackBuffer || !BackgroundBrush || !TracePen || !BorderPen || !GridPen || !TextBrush
            || !TextFont)
            return;
        const WaveformRenderer::Tools tools {*BackgroundBrush, *TracePen,  *BorderPen,
                                             *GridPen,         *TextBrush, *TextFont};
        DrawnTexts = overlayTexts(DisplayFrame.Frame, DisplayFrame.Running, DisplayFrame.Port);
        QRegion changed;
        Renderer.render(*BackBuffer, tools, DisplayFrame.Frame, DrawnTexts, changed);
        Unshown += changed;
        Fresh = true;
    }

    // The finished bitmap is swapped for the one shown, which becomes the next to draw into. The
    // two differ only where the traces of the last two hand-overs lie, and where their texts
    // differ, which happens seldom and repaints everything. A bitmap of a new size comes from the
    // window's thread, which renders at once after every resize; its hand-over also replaces the
    // old bitmap it gets back, so all bitmaps are allocated where the window lives.
    void handOver() override
    {
        if (!BackBuffer || !std::exchange(Fresh, false))
            return;
        const QRect whole = BackBuffer->rect();
        const QRegion changed = std::exchange(Unshown, QRegion()) & whole;
        QRegion repaint = changed + LastHandOver;
        if (DrawnTexts != ShownTexts)
            repaint = whole;
        LastHandOver = changed;
        ShownTexts = DrawnTexts;
        const QImage::Format format = BackBuffer->format();
        const qreal ratio = BackBuffer->devicePixelRatio();
        Picture->swapIn(*BackBuffer, repaint);
        QImage &next = *BackBuffer;
        if (whole.isEmpty())
            next = QImage();
        else if (next.size() != whole.size() || next.format() != format
                 || next.devicePixelRatio() != ratio) {
            next = QImage(whole.size(), format);
            next.setDevicePixelRatio(ratio);
        }
    }

    // A size change's new bitmap, not yet drawn. What was drawn into the old one and not handed
    // over goes with it: the window's thread draws the new one at once, and a hand-over before
    // that would show it undrawn and make its successor on the RenderThread.
    void replaceBackBuffer(QImage image)
    {
        *BackBuffer = std::move(image);
        Fresh = false;
        Unshown = QRegion();
    }

    // The widget belongs to the window's thread, so the RenderThread only posts a request.
    void askRepaint() override
    {
        QEvent *request = nullptr;
        {
            std::scoped_lock lock(Picture->PictureLock);
            if (!Picture->PendingRepaint.isEmpty())
                request = Picture->SpareRepaintRequest.release();
        }
        if (request)
            QCoreApplication::postEvent(View, request);
    }
};

CVandrelViewerView::CVandrelViewerView(QWidget *parent)
    : QWidget(parent)
    , Picture(std::make_shared<Shown>())
{
    // Every pixel comes from the picture, so nothing is erased between pictures.
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
    auto canvas = std::make_shared<Canvas>(this, Picture, Receiver);
    {
        std::scoped_lock lock(canvas->ViewLock);
        canvas->BackBuffer = std::make_unique<QImage>(makeBackBuffer());
        canvas->BackgroundBrush = std::make_unique<QBrush>(WaveformRenderer::backgroundBrush());
        canvas->TracePen = std::make_unique<QPen>(WaveformRenderer::tracePen());
        canvas->BorderPen = std::make_unique<QPen>(WaveformRenderer::borderPen());
        canvas->GridPen = std::make_unique<QPen>(WaveformRenderer::gridPen());
        canvas->TextBrush = std::make_unique<QBrush>(WaveformRenderer::textBrush());
        canvas->TextFont = std::make_unique<QFont>(WaveformRenderer::textFont());
    }
    Drawing = canvas;
    // Created after the first resize, the BackBuffer already has an area; it must not be shown
    // uninitialised until the next frame or resize.
    RenderFrame();

    {
        std::scoped_lock lock(Picture->PictureLock);
        Picture->SpareRepaintRequest = std::make_unique<QEvent>(repaintRequestType());
    }
    try {
        RenderThread.start(canvas, Receiver != nullptr ? Receiver->frameEvent() : nullptr);
    } catch (const std::system_error &) {
        throw ReceiverError("Cannot start a thread for receive.");
    }
}

// The thread goes first: it uses the drawing objects until it ends. One that overruns the stop
// keeps the canvas it co-owns and is left to finish on its own; the view lets go of it. The
// receiver does not outlive the view (the frame closes it right after this stop), so an
// abandoned thread must not reach it, which the loop sees to.
void CVandrelViewerView::OnDestroy()
{
    const bool ended = RenderThread.stop();
    if (Drawing && ended) {
        std::scoped_lock lock(Drawing->ViewLock);
        Drawing->TextFont.reset();
        Drawing->TextBrush.reset();
        Drawing->GridPen.reset();
        Drawing->BorderPen.reset();
        Drawing->TracePen.reset();
        Drawing->BackBuffer.reset();
        Drawing->BackgroundBrush.reset();
        Drawing->Renderer.clear();
    }
    Drawing.reset();
    std::scoped_lock lock(Picture->PictureLock);
    Picture->Image = QImage();
}

QEvent::Type CVandrelViewerView::repaintRequestType()
{
    static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return Type;
}

bool CVandrelViewerView::event(QEvent *event)
{
    if (event->type() != repaintRequestType())
        return QWidget::event(event);
    QRegion changed;
    {
        std::scoped_lock lock(Picture->PictureLock);
        changed = std::exchange(Picture->PendingRepaint, QRegion());
        Picture->SpareRepaintRequest = std::make_unique<QEvent>(repaintRequestType());
    }
    update(changed);
    return true;
}

void CVandrelViewerView::RenderFrame()
{
    if (!Drawing)
        return;
    Drawing->renderNow();
    QRegion changed;
    {
        std::scoped_lock lock(Picture->PictureLock);
        changed = std::exchange(Picture->PendingRepaint, QRegion());
    }
    update(changed);
}

void CVandrelViewerView::OnSize()
{
    if (!Drawing)
        return;
    {
        std::scoped_lock lock(Drawing->ViewLock);
        if (!Drawing->BackBuffer)
            return;
        Drawing->replaceBackBuffer(makeBackBuffer());
    }
    backBufferReplaced();
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
    std::scoped_lock lock(Picture->PictureLock);
    const std::int64_t waited = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - asked)
                                    .count();
    if (waited > LongestPaintWait.load())
        LongestPaintWait.store(waited);
    const QImage &image = Picture->Image;
    const bool picture = !image.isNull();
    // Opaque painting leaves whatever no picture covers undefined: before the first picture, or
    // when a screen of another pixel ratio shrank the picture until the next resize. A picture
    // pixel only partly inside the widget's last logical pixel counts as not covering it.
    const QSizeF size = picture ? image.deviceIndependentSize() : QSizeF();
    const QRect covered(0, 0, qFloor(size.width()), qFloor(size.height()));
    for (const QRect &bare : event->region().subtracted(covered))
        painter.fillRect(bare, WaveformRenderer::backgroundBrush());
    if (!picture)
        return;
    const qreal ratio = image.devicePixelRatio();
    const QRectF whole(QPointF(), size);
    const bool pieces = event->region().rectCount() > 1;
    const bool integralRatio = ratio == std::round(ratio);
    for (const QRect &area : event->region()) {
        // A logical pixel of margin: at a fractional ratio the area's edges fall inside device
        // pixels, which the clip to the event's region still lets through and must not miss.
        const QRectF target = QRectF(area.adjusted(-1, -1, 1, 1)).intersected(whole);
        if (target.isEmpty())
            continue;
        const QRectF source(target.x() * ratio, target.y() * ratio, target.width() * ratio,
                            target.height() * ratio);
        // Each piece on its own: under a clip of many pieces the toolkit copies the picture
        // through a slower path, on worker threads of its own. At a fractional ratio the
        // margin stays in, so the device pixels across the piece's edges are not cut off.
        if (pieces && integralRatio)
            painter.setClipRect(area);
        else if (pieces)
            painter.setClipRect(target);
        painter.drawImage(target, image, source);
    }
}

RenderLoop::Client &CVandrelViewerView::renderPassSteps() const
{
    return *Drawing;
}

QImage CVandrelViewerView::backBufferImage() const
{
    std::scoped_lock lock(Picture->PictureLock);
    return Picture->Image;
}
