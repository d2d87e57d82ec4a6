#include "OverlayImages.h"

#include <algorithm>
#include <cmath>
#include <new>

using namespace WaveformGeometry;

void LineImage::placeInto(const PixelRows &target) const
{
    if (Ink.empty())
        return;
    const PixelRows pixels {const_cast<std::uint32_t *>(Pixels.data()), Ink.width(), Ink.width(),
                            Ink.height()};
    copyPixels(target, pixels, Ink.Left, Ink.Top, Ink);
}

void OverlayImages::clear()
{
    for (auto &images : Lines)
        images.clear();
}

// Drawn on the background in a band a third of a line wider on every side than the line needs,
// at the picture's own pixel grid; ink reaching that band's edge may reach further, so it spills.
const LineImage &OverlayImages::image(int line, const std::u16string &text, PicturePainter &painter,
                                      const PictureGeometry &geometry, std::uint32_t background)
{
    auto &images = Lines[std::size_t(line)];
    const auto cached = std::find_if(images.begin(), images.end(),
                                     [&](const LineImage &image) { return image.Text == text; });
    if (cached != images.end()) {
        std::rotate(images.begin(), cached, cached + 1);
        return images.front();
    }

    const auto row = [&](double logical) {
        return std::clamp(int(std::floor(geometry.deviceY(logical))), 0, geometry.Height);
    };
    constexpr int Margin = TextLineStep / 3;
    const PixelRect band {std::max(0, geometry.TextColumn - geometry.columnPast(Margin)),
                          row(textTop(line) - Margin), geometry.Width,
                          row(textTop(line + 1) + Margin)};

    LineImage image {text, {}, {}, false};
    if (!band.empty()) {
        try {
            std::vector<std::uint32_t> pixels(std::size_t(band.area()), background);
            const PixelRows rows {pixels.data(), band.width(), band.width(), band.height()};
            painter.drawText(rows, band.Left, band.Top, geometry, line, text);
            const PixelRect ink = inkBounds(rows, background);
            if (!ink.empty()) {
                image.Ink = ink.translated(band.Left, band.Top);
                image.Pixels.resize(std::size_t(ink.area()));
                const PixelRows kept {image.Pixels.data(), ink.width(), ink.width(), ink.height()};
                copyPixels(kept, rows, -ink.Left, -ink.Top, kept.rect());
                image.Spills = image.Ink.Left < geometry.TextColumn
                    || (ink.Top == 0 && band.Top > 0)
                    || (ink.Bottom == band.height() && band.Bottom < geometry.Height);
            }
        } catch (const std::bad_alloc &) {
            image.Spills = true;
        }
    }
    constexpr std::size_t Kept = 3;
    images.insert(images.begin(), std::move(image));
    if (images.size() > Kept)
        images.pop_back();
    return images.front();
}
