// Cost of making one frame's picture on Windows (or under Wine): each contender draws the same
// frames in the same order into a picture of the size, and the bench prints the median time per
// frame and the frames one core could draw in a second. Prints figures; judges nothing.
//
// The reference is the Windows view's full GDI+ redraw as it stands: background, graticule,
// trace and the eight texts drawn anew into a GDI+ bitmap for every frame.

#include "GdiPlusRenderer.h"
#include "InstrumentFrames.h"
#include "OverlayLines.h"
#include "PictureBitmap.h"
#include "ScopeFrame.h"
#include "WaveformGeometry.h"

#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// One way of making the view's picture. A contender may keep whatever it likes between frames:
// the frames come in the order the instrument sends them.
class Contender
{
public:
    virtual ~Contender() = default;
    virtual const char *name() const = 0;
    // A fresh picture of the size; false when it cannot be made.
    virtual bool resize(int width, int height) = 0;
    // Brings the picture up to date with the frame and the overlay's lines.
    virtual void draw(const ScopeFrame &frame, const OverlayLines &lines) = 0;
    // The last picture drawn, top row first; empty when there is none.
    virtual std::vector<std::uint32_t> pixels() = 0;
};

// The Windows view's draw() as it stands, step by step, into a bitmap made as the view makes
// its BackBuffer.
class GdiplusFullRedraw final : public Contender
{
public:
    // The view's own drawing objects.
    GdiplusFullRedraw()
        : Tools(GdiPlusRenderer::Tools::make())
    { }

    ~GdiplusFullRedraw() override
    {
        if (BackBuffer != nullptr)
            GdipDisposeImage(BackBuffer);
        Tools.release();
    }

    GdiplusFullRedraw(const GdiplusFullRedraw &) = delete;
    GdiplusFullRedraw &operator=(const GdiplusFullRedraw &) = delete;

    const char *name() const override { return "gdiplus-full-redraw"; }

    // The face the texts are drawn in: the figures depend on it.
    std::wstring faceName() const
    {
        GpFontFamily *family = nullptr;
        WCHAR name[LF_FACESIZE] = {};
        if (TextFont == nullptr || GdipGetFamily(TextFont, &family) != Ok)
            return L"(none)";
        GdipGetFamilyName(family, name, LANG_NEUTRAL);
        GdipDeleteFontFamily(family);
        return name;
    }

    bool resize(int width, int height) override
    {
        if (BackBuffer != nullptr)
            GdipDisposeImage(BackBuffer);
        BackBuffer = nullptr;
        // As the view does: a bitmap made from the screen's graphics, which gives its format and
        // resolution (and so the texts' size in pixels).
        HDC screen = ::GetDC(nullptr);
        GpGraphics *reference = nullptr;
        if (screen != nullptr)
            GdipCreateFromHDC(screen, &reference);
        if (reference != nullptr) {
            GdipCreateBitmapFromGraphics(width, height, reference, &BackBuffer);
            GdipDeleteGraphics(reference);
        }
        if (screen != nullptr)
            ::ReleaseDC(nullptr, screen);
        return BackBuffer != nullptr && BackgroundBrush != nullptr && TextFont != nullptr;
    }

    void draw(const ScopeFrame &frame, const OverlayLines &lines) override
    {
        namespace G = WaveformGeometry;
        GpGraphics *surface = nullptr;
        GdipGetImageGraphicsContext(BackBuffer, &surface);
        if (surface == nullptr)
            return;
        GdipSetSmoothingMode(surface, SmoothingModeHighQuality);
        UINT width = 0;
        UINT height = 0;
        GdipGetImageWidth(BackBuffer, &width);
        GdipGetImageHeight(BackBuffer, &height);
        const G::Area area = G::fitArea(static_cast<int>(width), static_cast<int>(height));
        GdipFillRectangleI(surface, BackgroundBrush, 0, 0, static_cast<INT>(width),
                           static_cast<INT>(height));
        GdipScaleWorldTransform(
            surface, static_cast<REAL>(static_cast<double>(area.Width) / G::LogicalWidth),
            static_cast<REAL>(static_cast<double>(area.Height) / G::LogicalHeight),
            MatrixOrderPrepend);

        constexpr int Min = G::GraticuleMin;
        constexpr int Max = G::GraticuleMax;
        GdipDrawLineI(surface, BorderPen, Min, Min, Max, Min);
        GdipDrawLineI(surface, BorderPen, Max, Min, Max, Max);
        GdipDrawLineI(surface, BorderPen, Max, Max, Min, Max);
        GdipDrawLineI(surface, BorderPen, Min, Max, Min, Min);
        for (int k = G::Division; k < G::GraticuleSide; k += G::Division) {
            GdipDrawLineI(surface, GridPen, k + Min, Min, k + Min, Max);
            GdipDrawLineI(surface, GridPen, Min, k + Min, Max, k + Min);
        }

        const auto sample = [&frame](int i) {
            return frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)];
        };
        int previousY = G::traceY(sample(0));
        for (int i = 1; i < G::SampleCount; ++i) {
            const int y = G::traceY(sample(i));
            GdipDrawLineI(surface, TracePen, G::traceX(i - 1), previousY, G::traceX(i), y);
            previousY = y;
        }

        for (int line = 0; line < G::TextLineCount; ++line) {
            const std::u16string &text = lines[static_cast<std::size_t>(line)];
            const RectF origin(static_cast<REAL>(G::TextLeft), static_cast<REAL>(G::textTop(line)),
                               0.0F, 0.0F);
            GdipDrawString(surface, reinterpret_cast<const WCHAR *>(text.c_str()),
                           static_cast<INT>(text.size()), TextFont, &origin, nullptr, TextBrush);
        }
        GdipDeleteGraphics(surface);
    }

    std::vector<std::uint32_t> pixels() override
    {
        UINT width = 0;
        UINT height = 0;
        GdipGetImageWidth(BackBuffer, &width);
        GdipGetImageHeight(BackBuffer, &height);
        const GpRect all(0, 0, INT(width), INT(height));
        BitmapData data {};
        if (GdipBitmapLockBits(BackBuffer, &all, ImageLockModeRead, PixelFormat32bppARGB, &data)
            != Ok)
            return {};
        std::vector<std::uint32_t> out(std::size_t(width) * height);
        for (UINT y = 0; y < height; ++y)
            std::memcpy(out.data() + std::size_t(y) * width,
                        static_cast<const BYTE *>(data.Scan0) + std::ptrdiff_t(y) * data.Stride,
                        width * sizeof(std::uint32_t));
        GdipBitmapUnlockBits(BackBuffer, &data);
        return out;
    }

private:
    GdiPlusRenderer::Tools Tools;
    GpSolidFill *const &BackgroundBrush = Tools.BackgroundBrush;
    GpPen *const &TracePen = Tools.TracePen;
    GpPen *const &BorderPen = Tools.BorderPen;
    GpPen *const &GridPen = Tools.GridPen;
    GpSolidFill *const &TextBrush = Tools.TextBrush;
    GpFont *const &TextFont = Tools.TextFont;
    GpBitmap *BackBuffer = nullptr;
};

// The view's renderer: the cached layer and texts composed with our trace into the picture's own
// rows, as the view draws into two pictures in turn.
class ComposedRender final : public Contender
{
public:
    ComposedRender()
        : Tools(GdiPlusRenderer::Tools::make())
    { }
    ~ComposedRender() override { Tools.release(); }
    ComposedRender(const ComposedRender &) = delete;
    ComposedRender &operator=(const ComposedRender &) = delete;

    const char *name() const override { return "composed"; }
    bool resize(int width, int height) override
    {
        Renderer = GdiPlusRenderer();
        Pictures[0] = PictureBitmap::make(width, height);
        Pictures[1] = PictureBitmap::make(width, height);
        return Pictures[0] && Pictures[1];
    }
    void draw(const ScopeFrame &frame, const OverlayLines &lines) override
    {
        ChangedRegion changed;
        Renderer.render(*Pictures[Next], Tools, frame, lines, changed);
        Next = 1 - Next;
    }
    std::vector<std::uint32_t> pixels() override
    {
        const PixelRows rows = Pictures[1 - Next]->rows();
        std::vector<std::uint32_t> out;
        for (int y = 0; y < rows.Height; ++y)
            out.insert(out.end(), rows.row(y), rows.row(y) + rows.Width);
        return out;
    }

private:
    GdiPlusRenderer::Tools Tools;
    GdiPlusRenderer Renderer;
    std::unique_ptr<PictureBitmap> Pictures[2];
    int Next = 0;
};

// Every contender the bench measures, in the order it prints them, the reference first.
std::vector<std::unique_ptr<Contender>> contenders()
{
    std::vector<std::unique_ptr<Contender>> all;
    all.push_back(std::make_unique<GdiplusFullRedraw>());
    all.push_back(std::make_unique<ComposedRender>());
    return all;
}

struct PictureSize
{
    int Width = 0;
    int Height = 0;
};

// A stream as the simulated instrument plays it: its default header, the wave drifting sideways
// as the instrument's clock advances one frame period per frame; noise swings full scale.
std::vector<ScopeFrame> instrumentStream(Waveform wave, int count)
{
    constexpr double FramePeriodSeconds = 0.0646875; // 138 characters of 9 bits at 19200 baud
    SignalShape shape;
    shape.Wave = wave;
    if (wave == Waveform::Noise)
        shape.Amplitude = 31;
    std::mt19937 rng(1);
    std::vector<ScopeFrame> frames(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const std::vector<std::uint8_t> data =
            frameData(HeaderCodes(), shape, k * FramePeriodSeconds, rng);
        std::copy(data.begin(), data.end(), frames[static_cast<std::size_t>(k)].Bytes.begin());
    }
    return frames;
}

double threadCpuMs()
{
    FILETIME created {};
    FILETIME ended {};
    FILETIME kernel {};
    FILETIME user {};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user))
        return 0.0;
    const auto ticks = [](const FILETIME &time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
}

std::optional<PictureSize> sizeFrom(std::string_view text)
{
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos)
        return std::nullopt;
    const int width = std::atoi(std::string(text.substr(0, x)).c_str());
    const int height = std::atoi(std::string(text.substr(x + 1)).c_str());
    if (width < 16 || height < 16 || width > 8192 || height > 8192)
        return std::nullopt;
    return PictureSize {width, height};
}

// Where a picture differs from the reference's: near the trace, where the two trace drawings
// differ by their anti-aliasing; in the text column; elsewhere, which should be nowhere.
void compare(const std::vector<std::uint32_t> &reference, const std::vector<std::uint32_t> &ours,
             int width, int height, const ScopeFrame &frame)
{
    namespace G = WaveformGeometry;
    if (reference.size() != ours.size() || ours.size() != std::size_t(width) * height) {
        std::printf("  no pictures to compare\n");
        return;
    }
    const G::Area area = G::fitArea(width, height);
    const double sx = double(area.Width) / G::LogicalWidth;
    const double sy = double(area.Height) / G::LogicalHeight;
    // Boxes around each segment, three pixels wider than the pen's reach on every side.
    std::vector<bool> nearTrace(ours.size(), false);
    const auto sample = [&frame](int i) {
        return frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)];
    };
    for (int i = 1; i < G::SampleCount; ++i) {
        const auto [top, bottom] = std::minmax(G::traceY(sample(i - 1)), G::traceY(sample(i)));
        const int left = std::max(0, int(std::floor(G::traceX(i - 1) * sx)) - 3);
        const int right = std::min(width, int(std::ceil(G::traceX(i) * sx)) + 4);
        const int y0 = std::max(0, int(std::floor(top * sy)) - 3);
        const int y1 = std::min(height, int(std::ceil(bottom * sy)) + 4);
        for (int y = y0; y < y1; ++y)
            for (int x = left; x < right; ++x)
                nearTrace[std::size_t(y) * width + x] = true;
    }
    const int textLeft = int(G::TextLeft * sx) - 2;
    long trace = 0;
    long text = 0;
    long elsewhere = 0;
    int largest = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t at = std::size_t(y) * width + x;
            const std::uint32_t a = reference[at];
            const std::uint32_t b = ours[at];
            if (a == b)
                continue;
            if (nearTrace[at]) {
                ++trace;
            } else if (x >= textLeft) {
                ++text;
            } else {
                ++elsewhere;
                for (int shift = 0; shift < 32; shift += 8)
                    largest = std::max(
                        largest, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
            }
        }
    std::printf("  against the full redraw, pixels that differ: %ld near the trace, %ld in the "
                "text column, %ld elsewhere (largest channel difference there %d)\n",
                trace, text, elsewhere, largest);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: vandrel-render-cost [--size WxH]... [--wave sine|square|noise]... "
                 "[--frames N] [--compare]\n"
                 "defaults: --size 960x600 --size 1916x1006 --wave square --wave noise "
                 "--frames 200\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<PictureSize> sizes;
    std::vector<std::pair<std::string, Waveform>> waves;
    int frameCount = 200;
    bool comparing = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--size" && hasValue) {
            const auto size = sizeFrom(argv[++i]);
            if (!size)
                return usage();
            sizes.push_back(*size);
        } else if (option == "--wave" && hasValue) {
            const std::string name = argv[++i];
            const auto wave = waveformFromName(name);
            if (!wave
                || (*wave != Waveform::Sine && *wave != Waveform::Square
                    && *wave != Waveform::Noise))
                return usage();
            waves.emplace_back(name, *wave);
        } else if (option == "--compare") {
            comparing = true;
        } else if (option == "--frames" && hasValue) {
            frameCount = std::atoi(argv[++i]);
            if (frameCount < 1)
                return usage();
        } else {
            return usage();
        }
    }
    if (sizes.empty())
        sizes = {{960, 600}, {1916, 1006}};
    if (waves.empty())
        waves = {{"square", Waveform::Square}, {"noise", Waveform::Noise}};

    GdiplusStartupInput input(nullptr, FALSE, FALSE);
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) {
        std::fprintf(stderr, "vandrel-render-cost: GDI+ did not start\n");
        return 1;
    }
    int status = 0;
    {
        std::vector<std::unique_ptr<Contender>> all = contenders();
        if (const auto *gdiplus = dynamic_cast<const GdiplusFullRedraw *>(all.front().get()))
            std::printf("texts drawn in %ls\n", gdiplus->faceName().c_str());
        // On a loaded machine a frame's wall time takes in the time others had the core; the
        // thread's CPU time does not, so the frames a core could draw are counted from it.
        std::printf("per frame: median wall time of %d frames after %d unmeasured, the thread's "
                    "CPU time (mean) in brackets; frames/s of one core from the CPU time\n",
                    frameCount, std::min(frameCount, 20));
        const int warmUp = std::min(frameCount, 20);
        for (const auto &[waveName, wave] : waves) {
            const std::vector<ScopeFrame> frames = instrumentStream(wave, warmUp + frameCount);
            // The overlay while connected to COM1: the same lines every frame, as a steady
            // header gives.
            const OverlayLines lines = overlayLines(frames.front(), true, 0);
            for (const PictureSize &size : sizes) {
                std::vector<std::uint32_t> reference;
                for (const std::unique_ptr<Contender> &contender : all) {
                    if (!contender->resize(size.Width, size.Height)) {
                        std::fprintf(stderr, "%s: no picture of %dx%d\n", contender->name(),
                                     size.Width, size.Height);
                        status = 1;
                        continue;
                    }
                    for (int k = 0; k < warmUp; ++k)
                        contender->draw(frames[static_cast<std::size_t>(k)], lines);
                    std::vector<double> ms;
                    ms.reserve(static_cast<std::size_t>(frameCount));
                    const double cpuStart = threadCpuMs();
                    for (int k = warmUp; k < warmUp + frameCount; ++k) {
                        const auto start = std::chrono::steady_clock::now();
                        contender->draw(frames[static_cast<std::size_t>(k)], lines);
                        ms.push_back(std::chrono::duration<double, std::milli>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
                    }
                    const double cpuPerFrame = (threadCpuMs() - cpuStart) / frameCount;
                    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
                    const double median = ms[ms.size() / 2];
                    std::printf("%-22s %4dx%-4d %-6s: %7.3f ms/frame (cpu %.3f ms), %6.0f "
                                "frames/s of one core\n",
                                contender->name(), size.Width, size.Height, waveName.c_str(),
                                median, cpuPerFrame,
                                cpuPerFrame > 0 ? 1000.0 / cpuPerFrame : 1000.0 / median);
                    if (comparing && contender == all.front())
                        reference = contender->pixels();
                    else if (comparing)
                        compare(reference, contender->pixels(), size.Width, size.Height,
                                frames.back());
                    std::fflush(stdout);
                }
            }
        }
    }
    GdiplusShutdown(token);
    return status;
}
