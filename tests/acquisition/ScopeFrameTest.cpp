#include "ScopeFrame.h"

#include <gtest/gtest.h>
#include <string>

namespace {

ScopeFrame header(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    ScopeFrame frame;
    frame.Bytes[0] = b0;
    frame.Bytes[1] = b1;
    frame.Bytes[2] = b2;
    frame.Bytes[3] = b3;
    return frame;
}

std::u16string text(const char16_t *value)
{
    return value ? std::u16string(value) : std::u16string(u"(null)");
}

TEST(ScopeFrame, ZeroFrameDecodesToTheFirstEntryOfEveryTable)
{
    const ScopeFrame frame;
    EXPECT_EQ(frame.voltage(), 1);
    EXPECT_EQ(frame.timeBase(), 50);
    EXPECT_EQ(text(frame.couplingName()), u"GND");
    EXPECT_EQ(text(frame.triggerTypeName()), u"FREE RUN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), -0.5f);
    for (std::uint8_t byte : frame.Bytes)
        EXPECT_EQ(byte, 0);
}

TEST(ScopeFrame, VoltageAndCouplingShareByteZero)
{
    const int volts[4] = {1, 10, 100, 0};
    const char16_t *couplings[4] = {u"GND", u"AC", u"DC", u"N/A"};
    for (int voltageCode = 0; voltageCode < 4; ++voltageCode) {
        for (int couplingCode = 0; couplingCode < 4; ++couplingCode) {
            for (int ignored : {0x00, 0x03, 0xC0, 0xC3}) {
                const auto b0 =
                    static_cast<std::uint8_t>(voltageCode << 2 | couplingCode << 4 | ignored);
                const ScopeFrame frame = header(b0, 0, 0, 0);
                SCOPED_TRACE(b0);
                EXPECT_EQ(frame.voltage(), volts[voltageCode]);
                EXPECT_EQ(text(frame.couplingName()), couplings[couplingCode]);
            }
        }
    }
    const ScopeFrame bits3and4 = header(0x18, 0, 0, 0);
    EXPECT_EQ(bits3and4.voltage(), 100);
    EXPECT_EQ(text(bits3and4.couplingName()), u"AC");
}

TEST(ScopeFrame, TimeBaseTableUsesTheLowNibbleOnly)
{
    const int nanoseconds[16] = {50,     100,     500,     1000, 5000, 10000, 50000, 100000,
                                 500000, 1000000, 2000000, 0,    0,    0,     0,     0};
    for (int code = 0; code < 16; ++code) {
        for (int high : {0x00, 0xF0, 0x50}) {
            SCOPED_TRACE(code | high);
            EXPECT_EQ(header(0, static_cast<std::uint8_t>(code | high), 0, 0).timeBase(),
                      nanoseconds[code]);
        }
    }
}

TEST(ScopeFrame, TriggerTypeNeedsExactlyOneBit)
{
    for (int code = 0; code < 16; ++code) {
        std::u16string expected = u"FREE RUN";
        if (code == 1)
            expected = u"-EXTERN";
        else if (code == 2)
            expected = u"+EXTERN";
        else if (code == 4)
            expected = u"-INTERN";
        else if (code == 8)
            expected = u"+INTERN";
        for (int ignored : {0x00, 0x03, 0xC0}) {
            const auto b2 = static_cast<std::uint8_t>(code << 2 | ignored);
            SCOPED_TRACE(b2);
            EXPECT_EQ(text(header(0, 0, b2, 0).triggerTypeName()), expected);
        }
    }
}

TEST(ScopeFrame, TriggerLevelTable)
{
    for (int code = 0; code < 32; ++code) {
        float expected = 0.0f;
        switch (code) {
        case 0:
            expected = -0.5f;
            break;
        case 1:
            expected = 0.5f;
            break;
        case 2:
            expected = 0.3f;
            break;
        case 4:
            expected = 0.1f;
            break;
        case 8:
            expected = -0.1f;
            break;
        case 16:
            expected = -0.3f;
            break;
        default:
            break;
        }
        for (int ignored : {0x00, 0x01, 0x02, 0x80, 0x83}) {
            const auto b3 = static_cast<std::uint8_t>(code << 2 | ignored);
            SCOPED_TRACE(b3);
            EXPECT_FLOAT_EQ(header(0, 0, 0, b3).triggerLevel(), expected);
        }
    }
    EXPECT_FLOAT_EQ(header(0, 0, 0, 0x40).triggerLevel(), -0.3f);
    EXPECT_FLOAT_EQ(header(0, 0, 0, 0x0C).triggerLevel(), 0.0f);
}

TEST(ScopeFrame, AccessorsReadTheHeaderAlone)
{
    ScopeFrame frame = header(0x24, 0x09, 0x20, 0x10);
    const ScopeFrame headerOnly = frame;
    for (std::size_t i = 4; i < ScopeFrame::Size; ++i)
        frame.Bytes[i] = 0xFF;
    EXPECT_EQ(frame.voltage(), headerOnly.voltage());
    EXPECT_EQ(frame.timeBase(), headerOnly.timeBase());
    EXPECT_EQ(text(frame.couplingName()), text(headerOnly.couplingName()));
    EXPECT_EQ(text(frame.triggerTypeName()), text(headerOnly.triggerTypeName()));
    EXPECT_FLOAT_EQ(frame.triggerLevel(), headerOnly.triggerLevel());
    EXPECT_EQ(frame.voltage(), 10);
    EXPECT_EQ(frame.timeBase(), 1000000);
    EXPECT_EQ(text(frame.couplingName()), u"DC");
    EXPECT_EQ(text(frame.triggerTypeName()), u"+INTERN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), 0.1f);
}

} // namespace
