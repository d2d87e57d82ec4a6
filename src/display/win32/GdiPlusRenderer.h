#pragma once

#include "OverlayLines.h"
#include "PictureComposer.h"

class PictureBitmap;
class ScopeFrame;

namespace Gdiplus {
class GpBrush;
class GpSolidFill;
class GpPen;
class GpFont;
} // namespace Gdiplus

// Draws one frame into a PictureBitmap, GDI+ drawing layer and texts, composed as
// PictureComposer does. GDI+ must be started.
class GdiPlusRenderer
{
public:
    // The view's drawing objects, made once per view.
    struct Tools
    {
        Gdiplus::GpSolidFill *BackgroundBrush = nullptr;
        Gdiplus::GpPen *TracePen = nullptr;
        Gdiplus::GpPen *BorderPen = nullptr;
        Gdiplus::GpPen *GridPen = nullptr;
        Gdiplus::GpSolidFill *TextBrush = nullptr;
        Gdiplus::GpFont *TextFont = nullptr;

        // The picture's colours and pens; Times New Roman, else the generic sans serif, else
        // whatever face makes a font.
        static Tools make();
        // Frees the objects that exist and clears their fields.
        void release();
        bool complete() const;
    };

    // Answers the bounds of the pixels that may have changed, and the change as a region.
    PixelRect render(PictureBitmap &target, const Tools &tools, const ScopeFrame &frame,
                     const OverlayLines &texts, ChangedRegion &changed);
    // The same picture in one pass with nothing kept: what render() must always equal.
    static void renderDirect(PictureBitmap &target, const Tools &tools, const ScopeFrame &frame,
                             const OverlayLines &texts);

private:
    PictureComposer Composer;
    bool Adopted = false;
};
