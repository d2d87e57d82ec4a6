#include "GdiPlusRenderer.h"
#include "OverlayLines.h"
#include "PictureBitmap.h"
#include "RenderCases.h"

#include <windows.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using namespace RenderCases;

namespace {

class GdiPlusRendererTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&Token, &input, nullptr), Gdiplus::Ok);
        Tools = GdiPlusRenderer::Tools::make();
        ASSERT_TRUE(Tools.complete());
    }
    static void TearDownTestSuite()
    {
        Tools.release();
        Gdiplus::GdiplusShutdown(Token);
    }

    static std::unique_ptr<PictureBitmap> direct(int width, int height, const ScopeFrame &frame,
                                                 const OverlayLines &texts)
    {
        auto picture = PictureBitmap::make(width, height);
        GdiPlusRenderer::renderDirect(*picture, Tools, frame, texts);
        return picture;
    }

    static std::vector<std::uint32_t> pixels(PictureBitmap &picture)
    {
        const PixelRows rows = picture.rows();
        return {rows.Bits, rows.Bits + rows.Stride * rows.Height};
    }

    // The first pixel that differs and lies outside every rectangle, as y * width + x; -1 if none.
    static long changeOutside(const std::vector<std::uint32_t> &before, PictureBitmap &after,
                              const std::vector<PixelRect> &allowed)
    {
        const PixelRows rows = after.rows();
        for (int y = 0; y < rows.Height; ++y)
            for (int x = 0; x < rows.Width; ++x) {
                const std::size_t at = std::size_t(y) * std::size_t(rows.Width) + std::size_t(x);
                if (before[at] == rows.row(y)[x])
                    continue;
                const bool inside = std::any_of(allowed.begin(), allowed.end(), [&](auto &rect) {
                    return x >= rect.Left && x < rect.Right && y >= rect.Top && y < rect.Bottom;
                });
                if (!inside)
                    return long(at);
            }
        return -1;
    }

    static ULONG_PTR Token;
    static GdiPlusRenderer::Tools Tools;
};

ULONG_PTR GdiPlusRendererTest::Token = 0;
GdiPlusRenderer::Tools GdiPlusRendererTest::Tools;

TEST_F(GdiPlusRendererTest, CachedRenderAlwaysEqualsTheOnePassPicture)
{
    const std::vector<ScopeFrame> frames = equalityFrames();
    GdiPlusRenderer renderer;
    int step = 0;
    const auto check = [&](PictureBitmap &picture, const ScopeFrame &frame) {
        // The connection line changes every third render.
        const OverlayLines texts = overlayLines(frame, (step++ / 3) % 2 == 0, 2);
        ChangedRegion changed;
        renderer.render(picture, Tools, frame, texts, changed);
        auto expected = direct(picture.width(), picture.height(), frame, texts);
        ASSERT_TRUE(pixels(picture) == pixels(*expected))
            << picture.width() << "x" << picture.height() << " step " << step;
    };
    for (const Size size : EqualitySizes) {
        auto picture = PictureBitmap::make(size.Width, size.Height);
        for (int round = 0; round < 2; ++round)
            for (const ScopeFrame &frame : frames)
                check(*picture, frame);
    }
    for (const Size size : LargeSizes) {
        auto picture = PictureBitmap::make(size.Width, size.Height);
        for (const ScopeFrame &frame : {frames[1], frames[2]})
            check(*picture, frame);
    }
    // Tiny pictures, where texts, graticule and trace share pixels.
    for (int width = 7; width <= 20; ++width)
        for (int height = 5; height <= 15; height += 5) {
            auto picture = PictureBitmap::make(width, height);
            for (const ScopeFrame &frame : frames)
                check(*picture, frame);
        }
}

// The texts are really drawn, right of the graticule, and the trace is ours: the picture is not
// equal only because both paths left something out.
TEST_F(GdiPlusRendererTest, PictureHoldsGraticuleTraceAndTexts)
{
    const OverlayLines texts = overlayLines({}, false, -1);
    auto picture = direct(640, 480, constantFrame(0x20), texts);
    const PixelRows rows = picture->rows();
    // Pixels whose channel `shift` is at least `level`.
    const auto inkIn = [&](int left, int top, int right, int bottom, int shift, unsigned level) {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                count += ((rows.row(y)[x] >> shift) & 0xFF) >= level;
        return count;
    };
    EXPECT_GT(inkIn(460, 8, 640, 200, 16, 0x80), 50);
    // A level trace at y = 228 is one pixel high along the graticule, green throughout.
    EXPECT_GE(inkIn(8, 228, 444, 229, 8, 0xC0), 430);
    EXPECT_EQ(inkIn(8, 226, 444, 227, 8, 0x80) + inkIn(8, 230, 444, 231, 8, 0x80), 0);
    EXPECT_EQ(rows.row(8)[200], WaveformGeometry::GraticuleColour);
    EXPECT_EQ(rows.row(470)[300], WaveformGeometry::BackgroundColour);
}

// A view draws into two bitmaps in turn: each must come out as the one-pass picture whatever the
// other took in between, brought up to date within the region it reports.
TEST_F(GdiPlusRendererTest, TwoBitmapsDrawnInTurnChangeOnlyTheirReportedRegion)
{
    std::mt19937 generator(11);
    const ScopeFrame frames[] = {zigzagFrame(30, 31), zigzagFrame(33, 34), noiseFrame(generator),
                                 zigzagFrame(31, 32), constantFrame(0x3F), zigzagFrame(30, 32)};
    GdiPlusRenderer renderer;
    const int width = 960;
    const int height = 600;
    std::unique_ptr<PictureBitmap> pictures[2] = {PictureBitmap::make(width, height),
                                                  PictureBitmap::make(width, height)};
    for (int step = 0; step < 12; ++step) {
        PictureBitmap &picture = *pictures[step % 2];
        const ScopeFrame &frame = frames[std::size_t(step) % std::size(frames)];
        const OverlayLines texts = overlayLines(frame, (step + step / 3) % 2 == 0, 2);
        const std::vector<std::uint32_t> before = pixels(picture);
        ChangedRegion changed;
        const PixelRect bounds = renderer.render(picture, Tools, frame, texts, changed);
        ASSERT_TRUE(pixels(picture) == pixels(*direct(width, height, frame, texts)))
            << "step " << step;
        if (step < 2)
            continue;
        EXPECT_EQ(changeOutside(before, picture, changed.rects()), -1) << "step " << step;
        EXPECT_NE(bounds, picture.rows().rect()) << "step " << step;
    }
}

} // namespace
