#include "RenderTestSupport.h"

#include <cmath>

namespace RenderTest {

QSize deviceSize(QSize logical, qreal ratio)
{
    return {qRound(logical.width() * ratio), qRound(logical.height() * ratio)};
}

QRect devicePixelsInside(const QRect &logical, qreal ratio)
{
    const int left = int(std::ceil(logical.x() * ratio));
    const int top = int(std::ceil(logical.y() * ratio));
    const int right = int(std::floor((logical.x() + logical.width()) * ratio));
    const int bottom = int(std::floor((logical.y() + logical.height()) * ratio));
    return {left, top, right - left, bottom - top};
}

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
