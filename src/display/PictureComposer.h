#pragma once

#include "OverlayImages.h"
#include "PictureLayer.h"
#include "PicturePainter.h"

#include <array>
#include <cstdint>
#include <vector>

class ScopeFrame;

// Draws one frame into 32-bit pixels: background, the 4:3 fit of the 640 x 480 logical space,
// graticule, trace and the eight overlay lines, with a toolkit's painter for all but the trace.
//
// Only the trace changes from frame to frame, so the rest of the picture is kept: the graticule
// in a layer of the columns the trace can reach, each overlay line as an image of its ink. A
// render restores from the layer just the pixels the previous trace covered, puts in the lines
// whose text changed and draws the new trace. Where texts and trace would share pixels (small
// pictures, very large fonts) the parts cannot be composed apart, and every render draws the
// whole picture in one pass, which is what the composed picture always equals.
class PictureComposer
{
public:
    // Drops what was kept for another look and works out the geometry of a width x height
    // picture of this one.
    void adopt(const PictureLook &look, int width, int height);
    const PictureLook &look() const { return Look; }
    const PictureGeometry &geometry() const { return Geometry; }

    // Draws into target, a picture of the adopted size that the caller names by a key: a target
    // with the key this composer last drew with is taken to be as it left it; 0 names a target
    // never drawn. Answers the bounds of the pixels that may have changed and gives them as a
    // region of a few rectangles too; the whole target when it is new to this look.
    PixelRect render(const PixelRows &target, std::int64_t key, PicturePainter &painter,
                     const ScopeFrame &frame, const OverlayLines &texts, ChangedRegion &changed);

    // The same picture in one pass with nothing kept.
    static void renderDirect(const PixelRows &target, PicturePainter &painter,
                             const PictureLook &look, const PictureGeometry &geometry,
                             const ScopeFrame &frame, const OverlayLines &texts);

    // A target whose key changed with the pixels' access keeps what was kept for it.
    void relabel(std::int64_t from, std::int64_t to);
    // Forgets every target; the next render draws everything afresh.
    void clear();

private:
    // A target as this composer last left it: layer, these lines, a trace inside TraceArea.
    struct TargetState
    {
        std::int64_t Key = 0;
        std::array<std::u16string, WaveformGeometry::TextLineCount> Texts;
        std::array<PixelRect, WaveformGeometry::TextLineCount> Inks;
        std::vector<PixelRect> TraceArea;
    };
    // The state kept for this key, moved to the front; else the least recently used, emptied.
    TargetState &stateFor(std::int64_t key);
    PixelRect renderWhole(const PixelRows &target, PicturePainter &painter, const ScopeFrame &frame,
                          const OverlayLines &texts, ChangedRegion &changed);

    PictureLook Look;
    PictureGeometry Geometry;
    PictureLayer Layer;
    OverlayImages Lines;
    // The last two targets, the most recently drawn first: a view that draws into two bitmaps in
    // turn finds each as it left it, and the layer and line images serve both.
    std::array<TargetState, 2> Targets;
};
