#pragma once

#include <QImage>
#include <QLine>
#include <QPen>
#include <QTransform>

// Strokes anti-aliased straight lines into a 32-bit picture with the same pixels the toolkit's
// raster engine gives a solid, flat-capped pen of more than one device pixel under an even scale,
// without the engine's per-line state, span buffer and per-span blend calls. A full-swing trace
// spends most of its frame there.
//
// It answers false and draws nothing where it cannot promise those pixels: another pen, brush or
// format, a scale that differs between the axes or leaves the pen a pixel wide or thinner (the
// toolkit strokes those by other means), or a line that would need clipping.
class TraceStroker
{
public:
    static bool stroke(QImage &target, const QPen &pen, const QTransform &transform,
                       const QLine *lines, int count);
};
