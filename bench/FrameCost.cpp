// The cost of one frame's render at one size, for an instruction counter: warms the renderer up,
// then renders the asked number of frames inside measuredFrames(), so that
//
//   valgrind --tool=callgrind --toggle-collect='*measuredFrames(*' vandrel-frame-cost ...
//
// counts those frames alone. Prints the CPU time per frame too.

#include "BenchFrames.h"
#include "OverlayText.h"
#include "WaveformRenderer.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Its own, never inlined function: the counter's switch is keyed to its name.
__attribute__((noinline)) void measuredFrames(WaveformRenderer &renderer, QImage &image,
                                              const WaveformRenderer::Tools &tools,
                                              const std::array<ScopeFrame, 2> &frames, int count)
{
    for (int k = 0; k < count; ++k) {
        const ScopeFrame &frame = frames[static_cast<std::size_t>(k) % frames.size()];
        renderer.render(image, tools, frame, overlayTexts(frame, true, 2));
    }
}

double cpuSeconds()
{
    timespec used {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: vandrel-frame-cost [--size WxH] [--wave signal|noise] "
                 "[--frames N]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int width = 1920;
    int height = 1080;
    std::string wave = "noise";
    int count = 20;
    for (int k = 1; k < argc; ++k) {
        const bool hasValue = k + 1 < argc;
        if (std::strcmp(argv[k], "--size") == 0 && hasValue) {
            if (std::sscanf(argv[++k], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0)
                return usage();
        } else if (std::strcmp(argv[k], "--wave") == 0 && hasValue) {
            wave = argv[++k];
            if (wave != "signal" && wave != "noise")
                return usage();
        } else if (std::strcmp(argv[k], "--frames") == 0 && hasValue) {
            count = std::atoi(argv[++k]);
            if (count <= 0)
                return usage();
        } else {
            return usage();
        }
    }
    QGuiApplication application(argc, argv);
    const auto frames = wave == "noise" ? BenchFrames::noiseFrames() : BenchFrames::signalFrames();
    QImage image(width, height, QImage::Format_RGB32);
    WaveformRenderer renderer;
    // The first renders build what later ones keep: the graticule's layer and the texts.
    const WaveformRenderer::StandardTools setup;
    for (const ScopeFrame &frame : frames)
        renderer.render(image, setup.tools(), frame, overlayTexts(frame, true, 2));
    const double before = cpuSeconds();
    measuredFrames(renderer, image, setup.tools(), frames, count);
    const double perFrame = (cpuSeconds() - before) / count;
    std::printf("%dx%d %s: %d frames, %.3f ms CPU per frame\n", width, height, wave.c_str(), count,
                perFrame * 1e3);
    return 0;
}
