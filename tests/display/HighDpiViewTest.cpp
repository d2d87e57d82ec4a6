#include "CVandrelViewerView.h"
#include "RenderTestSupport.h"
#include "SerialReceiver.h"

#include <gtest/gtest.h>

using namespace RenderTest;

namespace {

// A 200 % screen for the whole program; it has to be in place before the application starts.
const bool ScaleFactorSet = qputenv("QT_SCALE_FACTOR", "2");

TEST(HighDpiView, BackBufferHasTheScreensDevicePixels)
{
    ASSERT_TRUE(ScaleFactorSet);
    SerialReceiver receiver;
    receiver.start();
    CVandrelViewerView view;
    view.resize(320, 240);
    view.show();
    ASSERT_DOUBLE_EQ(view.devicePixelRatioF(), 2.0);
    view.SetReceiver(&receiver);
    view.OnCreate();

    QImage picture = view.backBufferImage();
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), 2.0);
    picture.setDevicePixelRatio(1);
    const QImage expected = directPicture({640, 480}, {}, overlayTexts({}, false, -1));
    EXPECT_EQ(picture, expected);
    // Shown 1:1, not scaled up from a picture of half the size.
    QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    shown.setDevicePixelRatio(1);
    EXPECT_EQ(shown, expected);
}

// A paint of part of the widget copies exactly the picture's device pixels under it.
TEST(HighDpiView, PartialPaintCopiesTheDevicePixelsUnderIt)
{
    SerialReceiver receiver;
    receiver.start();
    CVandrelViewerView view;
    view.resize(321, 241);
    view.show();
    view.SetReceiver(&receiver);
    view.OnCreate();
    QImage picture = view.backBufferImage();
    picture.setDevicePixelRatio(1);
    ASSERT_EQ(picture.size(), QSize(642, 482));

    const QRegion areas[] = {QRect(13, 7, 50, 31), QRect(0, 200, 321, 41),
                             QRegion(QRect(100, 100, 30, 30)) | QRect(250, 3, 60, 9)};
    for (const QRegion &area : areas) {
        QImage shown(picture.size(), QImage::Format_RGB32);
        shown.setDevicePixelRatio(2);
        shown.fill(Qt::red);
        view.render(&shown, area.boundingRect().topLeft(), area);
        shown.setDevicePixelRatio(1);
        for (const QRect &rect : area) {
            const QRect pixels(rect.topLeft() * 2, rect.size() * 2);
            EXPECT_EQ(shown.copy(pixels), picture.copy(pixels)) << rect.x() << "," << rect.y();
        }
    }
}

} // namespace
