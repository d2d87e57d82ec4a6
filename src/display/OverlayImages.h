#pragma once

#include "OverlayLines.h"
#include "PicturePainter.h"

#include <array>
#include <vector>

// An overlay line drawn once for its text: just the pixels its text inks, and where.
struct LineImage
{
    std::u16string Text;
    // The picture's pixels the text changes; empty for a line with no ink.
    PixelRect Ink;
    std::vector<std::uint32_t> Pixels;
    // Its ink reaches past what was drawn to find it, or into the graticule's columns, or it
    // could not be kept: it cannot be composed apart from the rest.
    bool Spills = false;

    void placeInto(const PixelRows &target) const;
};

// The images of the lines for the current look, a few per line keyed by text: the large scaled
// glyphs of a 4K picture cost milliseconds per line, which a line pays only when its text is new.
class OverlayImages
{
public:
    const LineImage &image(int line, const std::u16string &text, PicturePainter &painter,
                           const PictureGeometry &geometry, std::uint32_t background);
    void clear();

private:
    std::array<std::vector<LineImage>, WaveformGeometry::TextLineCount> Lines;
};
