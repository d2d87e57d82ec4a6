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

} // namespace
