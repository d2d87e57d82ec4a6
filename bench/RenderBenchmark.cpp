#include "OverlayText.h"
#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <random>

namespace {

std::array<ScopeFrame, 2> framesWith(int (*sampleAt)(std::size_t index, std::mt19937 &generator))
{
    std::mt19937 generator(7);
    std::array<ScopeFrame, 2> frames;
    for (ScopeFrame &frame : frames) {
        frame.Bytes[0] = 0x18;
        frame.Bytes[1] = 0x05;
        for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
            frame.Bytes[ScopeFrame::FirstSample + i] =
                static_cast<std::uint8_t>(sampleAt(i, generator) & 0x3F);
    }
    return frames;
}

// What the instrument usually shows: two periods of a sine at two thirds of full scale, with
// a little noise, so each frame differs from the last.
std::array<ScopeFrame, 2> signalFrames()
{
    return framesWith([](std::size_t index, std::mt19937 &generator) {
        std::uniform_int_distribution<int> noise(-1, 1);
        const double phase = 2 * 3.14159265358979 * 2 * static_cast<double>(index) / 128;
        return static_cast<int>(std::lround(32 + 20 * std::sin(phase))) + noise(generator);
    });
}

// The worst case for the trace: full-swing noise, every segment spans the screen's height.
std::array<ScopeFrame, 2> noiseFrames()
{
    return framesWith([](std::size_t, std::mt19937 &generator) {
        return std::uniform_int_distribution<int>(0, 63)(generator);
    });
}

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

void sizes(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Args({640, 480})
        ->Args({1920, 1080})
        ->Args({3840, 2160})
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_RenderFrame)->Apply(sizes);
BENCHMARK(BM_RenderFrameNoise)->Apply(sizes);
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
