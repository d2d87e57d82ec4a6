#include "RenderTestSupport.h"

namespace RenderTest {

QImage directPicture(QSize size, const ScopeFrame &frame, const OverlayTexts &texts)
{
    QImage image(size, QImage::Format_RGB32);
    WaveformRenderer::renderDirect(image, DrawingSet().tools(), frame, texts);
    return image;
}

QRect inkBounds(const QImage &image, const QRect &area)
{
    QRect bounds;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (image.pixel(x, y) != Background)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

int inkCount(const QImage &image, const QRect &area)
{
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += image.pixel(x, y) != Background;
    return count;
}

} // namespace RenderTest
