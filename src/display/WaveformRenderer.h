#pragma once

#include "OverlayText.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QRegion>

#include <cstdint>
#include <optional>

class ScopeFrame;

// Draws one frame into a bitmap: background, the 4:3 fit of the 640 x 480 logical space,
// graticule, trace and the eight overlay lines. The bitmap's pixels are taken as they are; its
// device pixel ratio plays no part (a 200 % buffer simply has more pixels to scale into).
//
// Only the trace changes from frame to frame, so the rest of the picture is kept in a layer per
// (size, texts, drawing objects). A render restores from the layer just the pixels the previous
// trace covered and draws the new trace; everything else is already in place. The large scaled
// glyphs of a 4K picture cost tens of milliseconds, which a layer pays only when a text changes.
class WaveformRenderer
{
public:
    struct Tools
    {
        const QBrush &Background;
        const QPen &Trace;
        const QPen &Border;
        const QPen &Grid;
        const QBrush &Text;
        const QFont &Font;
    };

    // The drawing objects' values.
    static QBrush backgroundBrush();
    static QPen tracePen();
    static QPen borderPen();
    static QPen gridPen();
    static QBrush textBrush();
    // 16 pt at 96 dpi; Times New Roman or a metric-compatible face, else the generic sans-serif.
    static QFont textFont();

    // The drawing objects with those values, held together: for pictures drawn outside a view.
    struct StandardTools
    {
        QBrush Background = backgroundBrush();
        QPen Trace = tracePen();
        QPen Border = borderPen();
        QPen Grid = gridPen();
        QBrush Text = textBrush();
        QFont Font = textFont();
        Tools tools() const { return {Background, Trace, Border, Grid, Text, Font}; }
    };

    // Returns the device pixels of the target this render may have changed: the bounds of both
    // traces when only the trace moved, the whole target otherwise. One rectangle: a repaint of
    // many small ones costs more than the few pixels it saves.
    QRect render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                 const OverlayTexts &texts);

    // The same picture in one pass with no caching: what render() must always equal.
    static void renderDirect(QImage &target, const Tools &tools, const ScopeFrame &frame,
                             const OverlayTexts &texts);

    // Drops the layer; the next render draws everything afresh.
    void clear();

private:
    struct LayerKey
    {
        QSize Size;
        QImage::Format Format;
        OverlayTexts Texts;
        QBrush Background;
        QPen Border;
        QPen Grid;
        QBrush Text;
        QFont Font;
        bool matches(const QImage &target, const Tools &tools, const OverlayTexts &texts) const;
    };

    void rebuildLayer(const QImage &target, const Tools &tools, const OverlayTexts &texts);

    std::optional<LayerKey> Key;
    QImage Layer;
    // The target as this renderer last left it: layer plus a trace inside TraceArea. A target
    // with another key was changed by someone else, so all of it comes from the layer again.
    qint64 TargetKey = 0;
    QRegion TraceArea;
};
