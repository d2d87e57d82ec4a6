#pragma once

#include "OverlayText.h"

#include "PictureComposer.h"

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QRect>
#include <QRegion>

#include <optional>

class ScopeFrame;

// Draws one frame into a QImage with QPainter for layer and texts, composed as PictureComposer
// does. The bitmap's pixels are taken as they are; its device pixel ratio plays no part (a 200 %
// buffer simply has more pixels to scale into).
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

    std::optional<Look> Drawn;
    PictureComposer Composer;
    // The texts last drawn and their conversion: they change a few times a session.
    OverlayTexts LastTexts;
    OverlayLines LastLines;
};
