#include "DecimalCommaLocale.h"
#include "OverlayLines.h"
#include "ScopeFrame.h"
#include "WaveformGeometry.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

ScopeFrame headerFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    ScopeFrame frame;
    frame.Bytes = {b0, b1, b2, b3};
    return frame;
}

TEST(OverlayText, FormatsOfAllLines)
{
    const OverlayLines expected {
        u"Connect: 未接続",   u"Coupling: GND", u"Trigger Type: FREE RUN", u"Trigger Level: -0.5",
        u"Time Base: 50nsec", u"Voltage: 1V",   u"V-Div: 0.125V",          u"H-Div: 800.000nsec"};
    EXPECT_EQ(overlayLines(ScopeFrame {}, false, 0), expected);

    // 10 V, DC; 2000000 ns; +INTERN; -0.3
    const OverlayLines lines = overlayLines(headerFrame(0x04 | 0x20, 10, 0x20, 0x40), true, 2);
    EXPECT_EQ(lines[0], u"Connect: COM3");
    EXPECT_EQ(lines[1], u"Coupling: DC");
    EXPECT_EQ(lines[2], u"Trigger Type: +INTERN");
    EXPECT_EQ(lines[3], u"Trigger Level: -0.3"); // the float is not exactly -0.3
    EXPECT_EQ(lines[4], u"Time Base: 2000000nsec");
    EXPECT_EQ(lines[5], u"Voltage: 10V");
    EXPECT_EQ(lines[6], u"V-Div: 1.250V");
    EXPECT_EQ(lines[7], u"H-Div: 32000000.000nsec");

    EXPECT_EQ(overlayLines(headerFrame(0x08, 0, 0, 0), true, 2)[6], u"V-Div: 12.500V");
}

TEST(OverlayText, EveryTriggerLevelAndVoltageReadsAsPrintfWritesIt)
{
    // printf in the C locale is the reference, for each code of both tables.
    for (int code = 0; code < 32; ++code) {
        const ScopeFrame frame = headerFrame(static_cast<std::uint8_t>((code % 4) << 2), 0, 0,
                                             static_cast<std::uint8_t>(code << 2));
        char level[32];
        std::snprintf(level, sizeof level, "Trigger Level: %1.1f",
                      static_cast<double>(frame.triggerLevel()));
        char division[32];
        std::snprintf(division, sizeof division, "V-Div: %2.3fV", frame.voltage() / 8.0);
        const OverlayLines lines = overlayLines(frame, false, -1);
        EXPECT_EQ(lines[3], std::u16string(level, level + std::strlen(level))) << "code " << code;
        EXPECT_EQ(lines[6], std::u16string(division, division + std::strlen(division)))
            << "code " << code;
    }
}

TEST(OverlayText, ConnectLineNamesAPortOnlyWhileRunningOnAnOpenPort)
{
    EXPECT_EQ(overlayLines({}, true, 19)[0], u"Connect: COM20");
    // Stopped, whatever port was open last; running after a failed open, with no port.
    EXPECT_EQ(overlayLines({}, false, 2)[0], u"Connect: 未接続");
    EXPECT_EQ(overlayLines({}, true, -1)[0], u"Connect: 未接続");
}

// A desktop program gets its C library locale from the environment, so a formatter that follows
// it would write "1,250" for a German user.
TEST(OverlayText, NumbersKeepTheirDecimalPointInADecimalCommaLocale)
{
    const auto locale = decimalCommaLocale();
    if (!locale)
        GTEST_SKIP() << "no decimal-comma locale available and none can be made";
    if (!locale->Path.empty())
        setenv("LOCPATH", locale->Path.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, locale->Name.c_str()), nullptr);
    const OverlayLines lines = overlayLines(headerFrame(0x24, 0x03, 0x20, 0x08), true, 0);
    std::setlocale(LC_ALL, "C");

    EXPECT_EQ(lines[3], u"Trigger Level: 0.3");
    EXPECT_EQ(lines[6], u"V-Div: 1.250V");
    EXPECT_EQ(lines[7], u"H-Div: 16000.000nsec");
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
