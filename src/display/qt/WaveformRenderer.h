#pragma once

#include "OverlayText.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QRegion>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class ScopeFrame;

// Draws one frame into a bitmap: background, the 4:3 fit of the 640 x 480 logical space,
// graticule, trace and the eight overlay lines. The bitmap's pixels are taken as they are; its
// device pixel ratio plays no part (a 200 % buffer simply has more pixels to scale into).
//
// Only the trace changes from frame to frame, so the rest of the picture is kept: the graticule
// in a layer of the columns the trace can reach, each overlay line as an image of just the pixels
// its text inks, a few per line keyed by text. A render restores from the layer just the pixels
// the previous trace covered, puts in the lines whose text changed and draws the new trace. The
// large scaled glyphs of a 4K picture cost milliseconds per line, which a line pays only when its
// text is new. Where texts and trace would share pixels (tiny pictures, very large fonts) the
// parts cannot be composed apart, and every render draws the whole picture.
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
    // traces and of the old and new ink of every line whose text changed, the whole target when
    // the target or the look is new, as one rectangle.
    QRect render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                 const OverlayTexts &texts);
    // The same, and the changed pixels also as a region of a few rectangles inside those bounds:
    // the traces' own strips where they are few (a square wave's level runs and edges), else
    // the bounds of a run of segments each, else the bounds themselves when that saves little.
    QRect render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                 const OverlayTexts &texts, QRegion &changedRegion);

    // The same picture in one pass with no caching: what render() must always equal.
    static void renderDirect(QImage &target, const Tools &tools, const ScopeFrame &frame,
                             const OverlayTexts &texts);

    // Drops the layer; the next render draws everything afresh.
    void clear();

private:
    struct Look
    {
        QSize Size;
        QImage::Format Format;
        QBrush Background;
        QPen Trace;
        QPen Border;
        QPen Grid;
        QBrush Text;
        QFont Font;
        bool matches(const QImage &target, const Tools &tools) const;
    };

    struct LineImage
    {
        QString Text;
        // The target's pixels the text changes; empty for a line with no ink.
        QRect Ink;
        QImage Pixels;
        // Its ink reaches past what was drawn to find it, or into the graticule's columns.
        bool Spills = false;
    };

    void adoptLook(const QImage &target, const Tools &tools);
    const LineImage &lineImage(int line, const QString &text, const Tools &tools);
    void buildLayer(QImage &target, const Tools &tools);
    // Puts back the layer's pixels under the trace drawn before; answers their bounds.
    QRect restoreTrace(QImage &target, const std::vector<QRect> &traceArea) const;

    std::optional<Look> Drawn;
    // The first column right of everything the graticule and the trace can touch.
    int TextColumn = 0;
    // The target's columns left of TextColumn without a trace.
    QImage Layer;
    // The columns the graticule's vertical lines can reach, as [first, last] runs, and per row
    // whether it holds anything else but the background (a horizontal line). Everything else in
    // the layer is the background, which a restore fills rather than copies.
    std::vector<std::pair<int, int>> LayerColumns;
    std::vector<unsigned char> LayerRows;
    // The layer's pixels in those columns, run after run, each run row by row: what a restore
    // copies of the graticule's vertical lines, packed so that it stays in the cache.
    std::vector<quint32> LayerColumnPixels;
    // One row of the background, as wide as the layer.
    std::vector<quint32> LayerBlank;
    // Per line, the images drawn for the current look, the most recently used first.
    std::array<std::vector<LineImage>, WaveformGeometry::TextLineCount> Lines;
    // A target as this renderer last left it: layer, these lines, a trace inside TraceArea. A
    // target with another key was changed by someone else, so all of it is put in again.
    struct TargetState
    {
        qint64 Key = 0;
        std::array<LineImage, WaveformGeometry::TextLineCount> Shown;
        std::vector<QRect> TraceArea;
    };
    // The state kept for this key, moved to the front; else the least recently used, emptied.
    TargetState &stateFor(qint64 key);

    // The last few targets, the most recently drawn first: a view that draws into two bitmaps in
    // turn finds each as it left it, and the layer and line images serve both.
    std::array<TargetState, 2> Targets;
};
