#include "CVandrelViewerView.h"
#include "RenderTestSupport.h"
#include "SerialReceiver.h"

#include <gtest/gtest.h>

using namespace RenderTest;

namespace {

// The screen's scale factor for the whole program: the one the environment sets, for a run at
// another factor, or else 200 %. It has to be in place before the application starts.
const double ScaleFactor = [] {
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    return qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
}();

TEST(HighDpiView, BackBufferHasTheScreensDevicePixels)
{
    ASSERT_GT(ScaleFactor, 0);
    SerialReceiver receiver;
    receiver.start();
    CVandrelViewerView view;
    view.resize(320, 240);
    view.show();
    ASSERT_DOUBLE_EQ(view.devicePixelRatioF(), ScaleFactor);
    view.SetReceiver(&receiver);
    view.OnCreate();

    QImage picture = view.backBufferImage();
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), ScaleFactor);
    picture.setDevicePixelRatio(1);
    const QImage expected =
        directPicture(deviceSize({320, 240}, ScaleFactor), {}, overlayTexts({}, false, -1));
    EXPECT_EQ(picture, expected);
    // Shown 1:1, not scaled from a picture of the widget's logical size.
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
    ASSERT_EQ(picture.size(), deviceSize({321, 241}, ScaleFactor));

    const QRegion areas[] = {QRect(13, 7, 50, 31), QRect(0, 200, 321, 41),
                             QRegion(QRect(100, 100, 30, 30)) | QRect(250, 3, 60, 9)};
    for (const QRegion &area : areas) {
        QImage shown(picture.size(), QImage::Format_RGB32);
        shown.setDevicePixelRatio(ScaleFactor);
        shown.fill(Qt::red);
        view.render(&shown, area.boundingRect().topLeft(), area);
        shown.setDevicePixelRatio(1);
        for (const QRect &rect : area) {
            const QRect pixels = devicePixelsInside(rect, ScaleFactor);
            EXPECT_EQ(shown.copy(pixels), picture.copy(pixels)) << rect.x() << "," << rect.y();
        }
    }
}

} // namespace
