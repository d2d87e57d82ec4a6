#include "OverlayText.h"
#include "ScopeFrame.h"
#include "WaveformGeometry.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace WaveformGeometry;

namespace {

std::vector<QString> lines(const OverlayTexts &texts)
{
    return {texts.begin(), texts.end()};
}

TEST(OverlayText, AllZeroFrameWhileStopped)
{
    const std::vector<QString> expected {QStringLiteral(u"Connect: 未接続"),
                                         "Coupling: GND",
                                         "Trigger Type: FREE RUN",
                                         "Trigger Level: -0.5",
                                         "Time Base: 50nsec",
                                         "Voltage: 1V",
                                         "V-Div: 0.125V",
                                         "H-Div: 800.000nsec"};
    EXPECT_EQ(lines(overlayTexts(ScopeFrame {}, false, 0)), expected);
}

TEST(OverlayText, ConnectLineNamesAPortOnlyWhileRunningOnAnOpenPort)
{
    const ScopeFrame frame;
    EXPECT_EQ(overlayTexts(frame, true, 2)[0], "Connect: COM3");
    EXPECT_EQ(overlayTexts(frame, true, 19)[0], "Connect: COM20");
    EXPECT_EQ(overlayTexts(frame, true, 0)[0], "Connect: COM1");
    // Stopped, whatever port was open last; running after a failed open (no port).
    EXPECT_EQ(overlayTexts(frame, false, 2)[0], QStringLiteral(u"Connect: 未接続"));
    EXPECT_EQ(overlayTexts(frame, true, -1)[0], QStringLiteral(u"Connect: 未接続"));
}

TEST(OverlayText, DecodedHeaderFormats)
{
    ScopeFrame frame;
    frame.Bytes[0] = 0x04 | 0x20; // 10 V, DC
    frame.Bytes[1] = 10; // 2000000 ns
    frame.Bytes[2] = 0x20; // +INTERN
    frame.Bytes[3] = 0x04; // 0.5
    const OverlayTexts texts = overlayTexts(frame, true, 4);
    EXPECT_EQ(texts[1], "Coupling: DC");
    EXPECT_EQ(texts[2], "Trigger Type: +INTERN");
    EXPECT_EQ(texts[3], "Trigger Level: 0.5");
    EXPECT_EQ(texts[4], "Time Base: 2000000nsec");
    EXPECT_EQ(texts[5], "Voltage: 10V");
    EXPECT_EQ(texts[6], "V-Div: 1.250V");
    EXPECT_EQ(texts[7], "H-Div: 32000000.000nsec");

    frame.Bytes[0] = 0x08 | 0x30; // 100 V, N/A
    frame.Bytes[3] = 0x40; // -0.3, a float that is not exactly -0.3
    frame.Bytes[2] = 0x0C; // two trigger bits: FREE RUN
    const OverlayTexts more = overlayTexts(frame, true, 4);
    EXPECT_EQ(more[1], "Coupling: N/A");
    EXPECT_EQ(more[2], "Trigger Type: FREE RUN");
    EXPECT_EQ(more[3], "Trigger Level: -0.3");
    EXPECT_EQ(more[6], "V-Div: 12.500V");

    frame.Bytes[0] = 0x0C; // voltage code 3: 0 V
    frame.Bytes[1] = 0x0F; // unused time-base code: 0 ns
    const OverlayTexts zero = overlayTexts(frame, true, 4);
    EXPECT_EQ(zero[4], "Time Base: 0nsec");
    EXPECT_EQ(zero[5], "Voltage: 0V");
    EXPECT_EQ(zero[6], "V-Div: 0.000V");
    EXPECT_EQ(zero[7], "H-Div: 0.000nsec");
}

TEST(WaveformGeometry, TraceMapping)
{
    const std::vector<std::pair<int, int>> columns {{0, 8},    {1, 11},    {2, 14},   {3, 18},
                                                    {64, 228}, {126, 441}, {127, 444}};
    for (const auto &[index, x] : columns)
        EXPECT_EQ(traceX(index), x) << "sample " << index;

    const std::vector<std::pair<std::uint8_t, int>> rows {{0x00, 448}, {0x01, 442}, {0x02, 435},
                                                          {0x20, 228}, {0x3F, 15},  {0x40, 448},
                                                          {0xFF, 15},  {0x45, 414}};
    for (const auto &[sample, y] : rows)
        EXPECT_EQ(traceY(sample), y) << "sample byte " << int(sample);
}

TEST(WaveformGeometry, FourByThreeFit)
{
    EXPECT_EQ(fitArea(640, 480), (Area {640, 480}));
    EXPECT_EQ(fitArea(1000, 600), (Area {800, 600}));
    EXPECT_EQ(fitArea(600, 800), (Area {600, 450}));
    EXPECT_EQ(fitArea(500, 400), (Area {500, 375}));
    EXPECT_EQ(fitArea(641, 481), (Area {641, 480}));
    EXPECT_EQ(fitArea(3840, 2160), (Area {2880, 2160}));
    EXPECT_EQ(fitArea(0, 480), (Area {}));
    EXPECT_EQ(fitArea(1, 1), (Area {1, 0}));
}

} // namespace
