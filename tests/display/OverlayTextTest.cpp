#include "OverlayText.h"
#include "ScopeFrame.h"
#include "WaveformGeometry.h"

#include <gtest/gtest.h>

namespace {

TEST(OverlayText, FormatsOfAllLines)
{
    const OverlayTexts empty = overlayTexts(ScopeFrame {}, false, 0);
    const OverlayTexts expected {QStringLiteral(u"Connect: 未接続"),
                                 "Coupling: GND",
                                 "Trigger Type: FREE RUN",
                                 "Trigger Level: -0.5",
                                 "Time Base: 50nsec",
                                 "Voltage: 1V",
                                 "V-Div: 0.125V",
                                 "H-Div: 800.000nsec"};
    EXPECT_EQ(empty, expected);

    ScopeFrame frame;
    frame.Bytes = {0x04 | 0x20, 10, 0x20, 0x40}; // 10 V, DC; 2000000 ns; +INTERN; -0.3
    const OverlayTexts texts = overlayTexts(frame, true, 2);
    EXPECT_EQ(texts[0], "Connect: COM3");
    EXPECT_EQ(texts[1], "Coupling: DC");
    EXPECT_EQ(texts[2], "Trigger Type: +INTERN");
    EXPECT_EQ(texts[3], "Trigger Level: -0.3"); // the float is not exactly -0.3
    EXPECT_EQ(texts[4], "Time Base: 2000000nsec");
    EXPECT_EQ(texts[5], "Voltage: 10V");
    EXPECT_EQ(texts[6], "V-Div: 1.250V");
    EXPECT_EQ(texts[7], "H-Div: 32000000.000nsec");

    frame.Bytes[0] = 0x08;
    EXPECT_EQ(overlayTexts(frame, true, 2)[6], "V-Div: 12.500V");
}

TEST(OverlayText, ConnectLineNamesAPortOnlyWhileRunningOnAnOpenPort)
{
    EXPECT_EQ(overlayTexts({}, true, 19)[0], "Connect: COM20");
    // Stopped, whatever port was open last; running after a failed open, with no port.
    EXPECT_EQ(overlayTexts({}, false, 2)[0], QStringLiteral(u"Connect: 未接続"));
    EXPECT_EQ(overlayTexts({}, true, -1)[0], QStringLiteral(u"Connect: 未接続"));
}

TEST(WaveformGeometry, TraceMappingAndFit)
{
    using namespace WaveformGeometry;
    const int columns[][2] = {{0, 8}, {1, 11}, {2, 14}, {3, 18}, {64, 228}, {126, 441}, {127, 444}};
    for (const auto &[index, x] : columns)
        EXPECT_EQ(traceX(index), x) << "sample " << index;
    const int rows[][2] = {{0x00, 448}, {0x01, 442}, {0x02, 435}, {0x20, 228},
                           {0x3F, 15},  {0x40, 448}, {0xFF, 15},  {0x45, 414}};
    for (const auto &[sample, y] : rows)
        EXPECT_EQ(traceY(static_cast<std::uint8_t>(sample)), y) << "sample byte " << sample;

    EXPECT_EQ(fitArea(1000, 600), (Area {800, 600}));
    EXPECT_EQ(fitArea(600, 800), (Area {600, 450}));
    EXPECT_EQ(fitArea(641, 481), (Area {641, 480}));
    EXPECT_EQ(fitArea(1, 1), (Area {1, 0}));
}

} // namespace
