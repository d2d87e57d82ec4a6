#include "ScopeFrame.h"

#include <gtest/gtest.h>
#include <string>

namespace {

ScopeFrame withHeader(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    ScopeFrame frame;
    frame.Bytes = {b0, b1, b2, b3};
    return frame;
}

TEST(ScopeFrame, ZeroFrameDecodesToTheFirstEntryOfEveryTable)
{
    const ScopeFrame frame;
    EXPECT_EQ(frame.voltage(), 1);
    EXPECT_EQ(frame.timeBase(), 50);
    EXPECT_EQ(std::u16string(frame.couplingName()), u"GND");
    EXPECT_EQ(std::u16string(frame.triggerTypeName()), u"FREE RUN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), -0.5f);
}

// Every code of every field, each with the field's uninterpreted bits set and clear, and with
// the rest of the frame full of ones: only the field's own bits may matter.
TEST(ScopeFrame, DecodingTables)
{
    const int volts[4] = {1, 10, 100, 0};
    const std::u16string couplings[4] = {u"GND", u"AC", u"DC", u"N/A"};
    const int nanoseconds[16] = {50,     100,     500,     1000, 5000, 10000, 50000, 100000,
                                 500000, 1000000, 2000000, 0,    0,    0,     0,     0};
    const auto triggerType = [](int code) -> std::u16string {
        switch (code) {
        case 1:
            return u"-EXTERN";
        case 2:
            return u"+EXTERN";
        case 4:
            return u"-INTERN";
        case 8:
            return u"+INTERN";
        default:
            return u"FREE RUN";
        }
    };
    const auto triggerLevel = [](int code) {
        switch (code) {
        case 0:
            return -0.5f;
        case 1:
            return 0.5f;
        case 2:
            return 0.3f;
        case 4:
            return 0.1f;
        case 8:
            return -0.1f;
        case 16:
            return -0.3f;
        default:
            return 0.0f;
        }
    };
    for (const bool noise : {false, true}) {
        for (int code = 0; code < 32; ++code) {
            SCOPED_TRACE(::testing::Message() << "code " << code << (noise ? " with noise" : ""));
            ScopeFrame frame =
                withHeader(static_cast<std::uint8_t>((code & 3) << 2 | (code >> 2 & 3) << 4
                                                     | (noise ? 0xC3 : 0)),
                           static_cast<std::uint8_t>((code & 15) | (noise ? 0xF0 : 0)),
                           static_cast<std::uint8_t>((code & 15) << 2 | (noise ? 0xC3 : 0)),
                           static_cast<std::uint8_t>(code << 2 | (noise ? 0x83 : 0)));
            if (noise)
                std::fill(frame.Bytes.begin() + 4, frame.Bytes.end(), 0xFF);
            EXPECT_EQ(frame.voltage(), volts[code & 3]);
            EXPECT_EQ(std::u16string(frame.couplingName()), couplings[code >> 2 & 3]);
            EXPECT_EQ(frame.timeBase(), nanoseconds[code & 15]);
            EXPECT_EQ(std::u16string(frame.triggerTypeName()), triggerType(code & 15));
            EXPECT_FLOAT_EQ(frame.triggerLevel(), triggerLevel(code));
        }
    }
    const ScopeFrame mixed = withHeader(0x18, 0, 0, 0x40);
    EXPECT_EQ(mixed.voltage(), 100);
    EXPECT_EQ(std::u16string(mixed.couplingName()), u"AC");
    EXPECT_FLOAT_EQ(mixed.triggerLevel(), -0.3f);
    EXPECT_FLOAT_EQ(withHeader(0, 0, 0, 0x0C).triggerLevel(), 0.0f);
}

} // namespace
