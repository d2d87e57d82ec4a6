#include "ScopeFrame.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Decoded
{
    std::uint8_t Header[4];
    bool RestAllOnes; // samples and tail full of ones: only the header may matter
    int Volts;
    const char16_t *Coupling;
    int Nanoseconds;
    const char16_t *TriggerType;
    float TriggerLevel;
};

// Header bytes as they come from the line and what they must read as. The rows walk every code
// of the small fields and the coded and uncoded values of the others; the later ones set the
// bits that no field uses (0xC3, 0xF0, 0xC3, 0x83) as well.
constexpr Decoded Frames[] = {
    {{0x00, 0x00, 0x00, 0x00}, false, 1, u"GND", 50, u"FREE RUN", -0.5f},
    {{0x04, 0x01, 0x04, 0x04}, false, 10, u"GND", 100, u"-EXTERN", 0.5f},
    {{0x08, 0x02, 0x08, 0x08}, false, 100, u"GND", 500, u"+EXTERN", 0.3f},
    {{0x0C, 0x03, 0x0C, 0x0C}, false, 0, u"GND", 1000, u"FREE RUN", 0.0f},
    {{0x10, 0x04, 0x10, 0x10}, false, 1, u"AC", 5000, u"-INTERN", 0.1f},
    {{0x20, 0x05, 0x20, 0x20}, false, 1, u"DC", 10000, u"+INTERN", -0.1f},
    {{0x30, 0x06, 0x3C, 0x40}, false, 1, u"N/A", 50000, u"FREE RUN", -0.3f},
    {{0x00, 0x07, 0x14, 0x7C}, false, 1, u"GND", 100000, u"FREE RUN", 0.0f},
    {{0x00, 0x08, 0x18, 0x14}, false, 1, u"GND", 500000, u"FREE RUN", 0.0f},
    {{0x00, 0x09, 0x1C, 0x18}, false, 1, u"GND", 1000000, u"FREE RUN", 0.0f},
    {{0x00, 0x0A, 0x24, 0x24}, false, 1, u"GND", 2000000, u"FREE RUN", 0.0f},
    {{0x00, 0x0B, 0x00, 0x00}, false, 1, u"GND", 0, u"FREE RUN", -0.5f},
    {{0x00, 0x0F, 0x00, 0x00}, false, 1, u"GND", 0, u"FREE RUN", -0.5f},
    {{0x18, 0x00, 0x00, 0x40}, false, 100, u"AC", 50, u"FREE RUN", -0.3f},
    {{0xC3, 0xF0, 0xC3, 0x83}, true, 1, u"GND", 50, u"FREE RUN", -0.5f},
    {{0xC7, 0xF1, 0xC7, 0x87}, true, 10, u"GND", 100, u"-EXTERN", 0.5f},
    {{0xEB, 0xF3, 0xE3, 0xC3}, true, 100, u"DC", 1000, u"+INTERN", -0.3f},
    {{0x97, 0xAA, 0x53, 0x93}, true, 10, u"AC", 2000000, u"-INTERN", 0.1f},
    {{0xFF, 0xFF, 0xFF, 0xFF}, true, 0, u"N/A", 0, u"FREE RUN", 0.0f},
};

TEST(ScopeFrame, HeaderBytesDecodeToTheInstrumentsSettings)
{
    for (const Decoded &row : Frames) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << "header " << int(row.Header[0]) << ' ' << int(row.Header[1])
                     << ' ' << int(row.Header[2]) << ' ' << int(row.Header[3]));
        ScopeFrame frame;
        if (row.RestAllOnes)
            frame.Bytes.fill(0xFF);
        std::copy(std::begin(row.Header), std::end(row.Header), frame.Bytes.begin());
        EXPECT_EQ(frame.voltage(), row.Volts);
        EXPECT_EQ(std::u16string(frame.couplingName()), row.Coupling);
        EXPECT_EQ(frame.timeBase(), row.Nanoseconds);
        EXPECT_EQ(std::u16string(frame.triggerTypeName()), row.TriggerType);
        EXPECT_FLOAT_EQ(frame.triggerLevel(), row.TriggerLevel);
    }
}

TEST(ScopeFrame, AFreshFrameReadsAsTheAllZeroHeader)
{
    const ScopeFrame frame;
    EXPECT_EQ(frame.voltage(), 1);
    EXPECT_EQ(frame.timeBase(), 50);
    EXPECT_EQ(std::u16string(frame.couplingName()), u"GND");
    EXPECT_EQ(std::u16string(frame.triggerTypeName()), u"FREE RUN");
    EXPECT_FLOAT_EQ(frame.triggerLevel(), -0.5f);
}

} // namespace
