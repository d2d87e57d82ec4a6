#include "GdiPlusRenderer.h"

#include "PictureBitmap.h"
#include "ScopeFrame.h"

#include <gdiplus.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;
namespace G = WaveformGeometry;

namespace {

constexpr REAL GridDashes[] = {G::GridDash, G::GridGap};

// Frees a drawing object that exists and clears its field.
template<typename Object, typename Base>
void release(Object *&object, GpStatus(WINGDIPAPI *free)(Base *))
{
    if (object != nullptr)
        free(object);
    object = nullptr;
}

GpFont *fontOfFamily(const WCHAR *name)
{
    GpFontFamily *family = nullptr;
    GpFont *font = nullptr;
    if (GdipCreateFontFamilyFromName(name, nullptr, &family) == Ok) {
        GdipCreateFont(family, G::TextPoints, FontStyleRegular, UnitPoint, &font);
        GdipDeleteFontFamily(family);
    }
    return font;
}

// The face the dialogs' text really shows in: the system's font mapper resolves the message
// font to a face that is installed, whatever the message font names.
std::wstring dialogFace()
{
    NONCLIENTMETRICSW metrics {};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return {};
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    HDC screen = ::GetDC(nullptr);
    std::wstring face(LF_FACESIZE, L'\0');
    if (font != nullptr && screen != nullptr) {
        HGDIOBJ previous = ::SelectObject(screen, font);
        if (::GetTextFaceW(screen, LF_FACESIZE, face.data()) <= 0)
            face[0] = L'\0';
        face.resize(std::wcslen(face.c_str()));
        ::SelectObject(screen, previous);
    } else {
        face.clear();
    }
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    if (font != nullptr)
        ::DeleteObject(font);
    return face;
}

// A system that has neither Times New Roman nor a sans serif would show a picture without its
// settings, so then the dialogs' face, and last any family that makes a font.
GpFont *makeTextFont()
{
    GpFont *font = fontOfFamily(reinterpret_cast<const WCHAR *>(G::TextFace));
    GpFontFamily *family = nullptr;
    if (font == nullptr && GdipGetGenericFontFamilySansSerif(&family) == Ok) {
        GdipCreateFont(family, G::TextPoints, FontStyleRegular, UnitPoint, &font);
        GdipDeleteFontFamily(family);
    }
    if (font == nullptr) {
        const std::wstring face = dialogFace();
        if (!face.empty())
            font = fontOfFamily(face.c_str());
    }
    GpFontCollection *installed = nullptr;
    INT count = 0;
    if (font == nullptr && GdipNewInstalledFontCollection(&installed) == Ok
        && GdipGetFontCollectionFamilyCount(installed, &count) == Ok && count > 0) {
        // The families belong to the collection, which belongs to GDI+.
        std::vector<GpFontFamily *> families(static_cast<std::size_t>(count), nullptr);
        INT found = 0;
        if (GdipGetFontCollectionFamilyList(installed, count, families.data(), &found) == Ok)
            for (INT i = 0; i < found && font == nullptr; ++i)
                GdipCreateFont(families[static_cast<std::size_t>(i)], G::TextPoints,
                               FontStyleRegular, UnitPoint, &font);
    }
    return font;
}

// The look the drawing objects of Tools::make() give.
PictureLook standardLook()
{
    PictureLook look;
    look.Background = G::BackgroundColour;
    look.TracePen = 1.0;
    look.TraceColour = G::TraceColour;
    look.GraticulePen = 1.0;
    return look;
}

// A surface on the pixels with anti-aliased lines, whose world space is the logical space of
// the picture, shifted so that the pixels' (0, 0) is the picture's (left, top). GDI+ puts pixel
// centres at whole coordinates, so no half-pixel shift is needed.
class Surface
{
public:
    Surface(const PixelRows &pixels, const PictureGeometry &geometry, int left, int top)
        : Bitmap(pixels)
    {
        if (Bitmap.Bitmap == nullptr || GdipGetImageGraphicsContext(Bitmap.Bitmap, &Graphics) != Ok)
            return;
        GdipSetSmoothingMode(Graphics, SmoothingModeHighQuality);
        GdipTranslateWorldTransform(Graphics, REAL(-left), REAL(-top), MatrixOrderPrepend);
        Geometry = &geometry;
    }
    ~Surface()
    {
        if (Graphics != nullptr)
            GdipDeleteGraphics(Graphics);
    }
    Surface(const Surface &) = delete;
    Surface &operator=(const Surface &) = delete;

    GpGraphics *graphics() const { return Graphics; }
    void scale() const
    {
        GdipScaleWorldTransform(Graphics, REAL(Geometry->ScaleX), REAL(Geometry->ScaleY),
                                MatrixOrderPrepend);
    }

private:
    GdiPlusSurface Bitmap;
    GpGraphics *Graphics = nullptr;
    const PictureGeometry *Geometry = nullptr;
};

class GdiPlusPainter final : public PicturePainter
{
public:
    explicit GdiPlusPainter(const GdiPlusRenderer::Tools &tools)
        : Tools(tools)
    { }

    void drawLayer(const PixelRows &target, const PictureGeometry &geometry) override
    {
        const Surface surface(target, geometry, 0, 0);
        GpGraphics *graphics = surface.graphics();
        if (graphics == nullptr)
            return;
        GdipFillRectangleI(graphics, Tools.BackgroundBrush, 0, 0, target.Width, target.Height);
        if (geometry.empty())
            return;
        surface.scale();
        constexpr int Min = G::GraticuleMin;
        constexpr int Max = G::GraticuleMax;
        GdipDrawLineI(graphics, Tools.BorderPen, Min, Min, Max, Min);
        GdipDrawLineI(graphics, Tools.BorderPen, Max, Min, Max, Max);
        GdipDrawLineI(graphics, Tools.BorderPen, Max, Max, Min, Max);
        GdipDrawLineI(graphics, Tools.BorderPen, Min, Max, Min, Min);
        for (int k = G::Division; k < G::GraticuleSide; k += G::Division) {
            GdipDrawLineI(graphics, Tools.GridPen, k + Min, Min, k + Min, Max);
            GdipDrawLineI(graphics, Tools.GridPen, Min, k + Min, Max, k + Min);
        }
    }

    // From the line's top-left corner in a layout rectangle of no size: neither wrapped nor
    // clipped.
    void drawText(const PixelRows &pixels, int left, int top, const PictureGeometry &geometry,
                  int line, const std::u16string &text) override
    {
        const Surface surface(pixels, geometry, left, top);
        if (surface.graphics() == nullptr)
            return;
        surface.scale();
        const RectF origin(REAL(G::TextLeft), REAL(G::textTop(line)), 0.0F, 0.0F);
        GdipDrawString(surface.graphics(), reinterpret_cast<const WCHAR *>(text.c_str()),
                       INT(text.size()), Tools.TextFont, &origin, nullptr, Tools.TextBrush);
    }

private:
    const GdiPlusRenderer::Tools &Tools;
};

} // namespace

GdiPlusRenderer::Tools GdiPlusRenderer::Tools::make()
{
    Tools tools;
    GdipCreateSolidFill(G::BackgroundColour, &tools.BackgroundBrush);
    GdipCreatePen1(G::TraceColour, 1.0F, UnitWorld, &tools.TracePen);
    GdipCreatePen1(G::GraticuleColour, 1.0F, UnitWorld, &tools.BorderPen);
    if (GdipCreatePen1(G::GraticuleColour, 1.0F, UnitWorld, &tools.GridPen) == Ok)
        GdipSetPenDashArray(tools.GridPen, GridDashes, 2);
    GdipCreateSolidFill(G::TextColour, &tools.TextBrush);
    tools.TextFont = makeTextFont();
    return tools;
}

void GdiPlusRenderer::Tools::release()
{
    ::release(TextFont, GdipDeleteFont);
    ::release(TextBrush, GdipDeleteBrush);
    ::release(GridPen, GdipDeletePen);
    ::release(BorderPen, GdipDeletePen);
    ::release(TracePen, GdipDeletePen);
    ::release(BackgroundBrush, GdipDeleteBrush);
}

bool GdiPlusRenderer::Tools::complete() const
{
    return BackgroundBrush != nullptr && TracePen != nullptr && BorderPen != nullptr
        && GridPen != nullptr && TextBrush != nullptr && TextFont != nullptr;
}

PixelRect GdiPlusRenderer::render(PictureBitmap &target, const Tools &tools,
                                  const ScopeFrame &frame, const OverlayLines &texts,
                                  ChangedRegion &changed)
{
    if (!Adopted) {
        Composer.adopt(standardLook(), target.width(), target.height());
        Adopted = true;
    }
    GdiPlusPainter painter(tools);
    return Composer.render(target.rows(), target.key(), painter, frame, texts, changed);
}

void GdiPlusRenderer::renderDirect(PictureBitmap &target, const Tools &tools,
                                   const ScopeFrame &frame, const OverlayLines &texts)
{
    const PictureLook look = standardLook();
    GdiPlusPainter painter(tools);
    PictureComposer::renderDirect(
        target.rows(), painter, look,
        PictureGeometry::of(target.width(), target.height(), look.widestPen()), frame, texts);
}
