#include "ScopeFrame.h"

#include "SerialReceiver.h"

namespace {

constexpr int field(std::uint8_t byte, int lowestBit, unsigned mask)
{
    return static_cast<int>((byte >> lowestBit) & mask);
}

} // namespace

void ScopeFrame::fillFrom(const SerialReceiver &receiver)
{
    receiver.copyFrame(*this);
}

int ScopeFrame::voltage() const
{
    static constexpr int Volts[4] = {1, 10, 100, 0};
    return Volts[field(Bytes[0], 2, 0x3)];
}

int ScopeFrame::timeBase() const
{
    static constexpr int Nanoseconds[16] = {
        50, 100, 500, 1000, 5000, 10000, 50000, 100000, 500000, 1000000, 2000000, 0, 0, 0, 0, 0};
    return Nanoseconds[field(Bytes[1], 0, 0xF)];
}

const char16_t *ScopeFrame::couplingName() const
{
    static constexpr const char16_t *Names[4] = {u"GND", u"AC", u"DC", u"N/A"};
    return Names[field(Bytes[0], 4, 0x3)];
}

const char16_t *ScopeFrame::triggerTypeName() const
{
    switch (field(Bytes[2], 2, 0xF)) {
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
}

float ScopeFrame::triggerLevel() const
{
    switch (field(Bytes[3], 2, 0x1F)) {
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
}
