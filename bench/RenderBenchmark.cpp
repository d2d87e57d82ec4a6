#include "BenchFrames.h"
#include "OverlayText.h"
#include "ScopeFrame.h"
#include "WaveformGeometry.h"
#include "WaveformRenderer.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <array>

namespace {

using BenchFrames::noiseFrames;
using BenchFrames::signalFrames;

using Setup = WaveformRenderer::StandardTools;

QImage backBuffer(const benchmark::State &state)
{
    return QImage(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                  QImage::Format_RGB32);
}

void renderFrames(benchmark::State &state, const std::array<ScopeFrame, 2> &frames)
{
    const Setup setup;
    QImage image = backBuffer(state);
    WaveformRenderer renderer;
    std::size_t next = 0;
    for (auto _ : state) {
        const ScopeFrame &frame = frames[next++ % frames.size()];
        renderer.render(image, setup.tools(), frame, overlayTexts(frame, true, 2));
        benchmark::DoNotOptimize(image.constBits());
    }
}

// What the view's RenderFrame does per frame: compose the texts, draw the picture.
void BM_RenderFrame(benchmark::State &state)
{
    renderFrames(state, signalFrames());
}

void BM_RenderFrameNoise(benchmark::State &state)
{
    renderFrames(state, noiseFrames());
}

// The worst case: the connection line changes with every frame, so every render redraws the
// whole picture, texts included.
void BM_RenderFrameTextChange(benchmark::State &state)
{
    const Setup setup;
    const auto frames = signalFrames();
    QImage image = backBuffer(state);
    WaveformRenderer renderer;
    std::size_t next = 0;
    for (auto _ : state) {
        const ScopeFrame &frame = frames[next % frames.size()];
        renderer.render(image, setup.tools(), frame, overlayTexts(frame, next % 2 == 0, 2));
        ++next;
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The first render after a size change, as the view makes it: a new bitmap each time, and a
// size that changes the scale, so nothing drawn for an earlier size can be reused. The heights
// cycle through more sizes than any cache keeps.
void BM_RenderFrameResize(benchmark::State &state)
{
    const Setup setup;
    const auto frames = signalFrames();
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    WaveformRenderer renderer;
    std::size_t next = 0;
    for (auto _ : state) {
        const ScopeFrame &frame = frames[next % frames.size()];
        const int step = static_cast<int>(next % 32);
        QImage image(width - 4 * step, height - 3 * step, QImage::Format_RGB32);
        renderer.render(image, setup.tools(), frame, overlayTexts(frame, true, 2));
        benchmark::DoNotOptimize(image.constBits());
        ++next;
    }
}

// Everything drawn in one pass with no caching, for comparison.
void BM_RenderDirect(benchmark::State &state)
{
    const Setup setup;
    const auto frames = signalFrames();
    QImage image = backBuffer(state);
    std::size_t next = 0;
    for (auto _ : state) {
        const ScopeFrame &frame = frames[next++ % frames.size()];
        WaveformRenderer::renderDirect(image, setup.tools(), frame, overlayTexts(frame, true, 2));
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The noise frame's trace alone, drawn by the toolkit one line per call under the picture's
// transform: the plain drawing the renderer's trace is measured against.
void BM_TracePainterNoise(benchmark::State &state)
{
    const auto frames = noiseFrames();
    QImage image = backBuffer(state);
    image.fill(WaveformRenderer::backgroundBrush().color());
    const WaveformGeometry::Area area = WaveformGeometry::fitArea(image.width(), image.height());
    const QTransform transform = QTransform().translate(0.5, 0.5).scale(
        static_cast<float>(area.Width / 640.0), static_cast<float>(area.Height / 480.0));
    const QPen pen = WaveformRenderer::tracePen();
    std::size_t next = 0;
    for (auto _ : state) {
        const ScopeFrame &frame = frames[next++ % frames.size()];
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(transform);
        painter.setPen(pen);
        int previous = WaveformGeometry::traceY(frame.Bytes[ScopeFrame::FirstSample]);
        for (int i = 1; i < WaveformGeometry::SampleCount; ++i) {
            const int y = WaveformGeometry::traceY(
                frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
            painter.drawLine(WaveformGeometry::traceX(i - 1), previous, WaveformGeometry::traceX(i),
                             y);
            previous = y;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}

void sizes(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Args({640, 480})
        ->Args({1920, 1080})
        ->Args({3840, 2160})
        ->Unit(benchmark::kMillisecond);
}

// Maximised windows on common screens, each beside its neighbour a pixel away: one of each pair
// has equal scales, the other not, and the picture must cost about the same at both.
void screenSizes(benchmark::internal::Benchmark *benchmark)
{
    sizes(benchmark);
    benchmark->Args({1916, 1005})
        ->Args({1916, 1006})
        ->Args({1920, 1081})
        ->Args({2556, 1329})
        ->Args({2556, 1330})
        ->Args({3836, 2049})
        ->Args({3836, 2050});
}

BENCHMARK(BM_RenderFrame)->Apply(screenSizes);
BENCHMARK(BM_RenderFrameNoise)->Apply(screenSizes);
BENCHMARK(BM_TracePainterNoise)->Apply(screenSizes);
BENCHMARK(BM_RenderFrameTextChange)->Apply(sizes);
BENCHMARK(BM_RenderFrameResize)->Apply(sizes);
BENCHMARK(BM_RenderDirect)->Apply(sizes);

} // namespace

int main(int argc, char **argv)
{
    // Fonts need a GUI application; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
