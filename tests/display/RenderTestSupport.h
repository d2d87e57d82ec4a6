#pragma once

#include "OverlayText.h"
#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <QImage>
#include <QRect>

namespace RenderTest {

constexpr QRgb Background = 0xFF000040;
constexpr QRgb Border = 0xFF0050B4;
constexpr QRgb Trace = 0xFF64FF64;

struct DrawingSet
{
    QBrush BackgroundBrush = WaveformRenderer::backgroundBrush();
    QPen TracePen = WaveformRenderer::tracePen();
    QPen BorderPen = WaveformRenderer::borderPen();
    QPen GridPen = WaveformRenderer::gridPen();
    QBrush TextBrush = WaveformRenderer::textBrush();
    QFont TextFont = WaveformRenderer::textFont();
    WaveformRenderer::Tools tools() const
    {
        return {BackgroundBrush, TracePen, BorderPen, GridPen, TextBrush, TextFont};
    }
};

// The device pixels of a widget of a logical size at a pixel ratio, rounded as the view rounds.
QSize deviceSize(QSize logical, qreal ratio);
// The device pixels that lie wholly inside a logical rectangle at a pixel ratio.
QRect devicePixelsInside(const QRect &logical, qreal ratio);

// The one-pass picture of a frame at a size.
QImage directPicture(QSize size, const ScopeFrame &frame, const OverlayTexts &texts);

// The pixels inside `area` that are not background: their bounding rectangle and their count.
QRect inkBounds(const QImage &image, const QRect &area);
int inkCount(const QImage &image, const QRect &area);

} // namespace RenderTest
