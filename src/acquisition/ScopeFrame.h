#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class SerialReceiver;

// One picture of the instrument: a 4-byte bit-packed header, 128 six-bit samples (bytes 4-131),
// a 5-byte tail and byte 137, which the receiver never fills.
class ScopeFrame
{
public:
    static constexpr std::size_t Size = 138;
    static constexpr std::size_t FirstSample = 4;
    static constexpr std::size_t SampleCount = 128;

    std::array<std::uint8_t, Size> Bytes {};

    // Replaces all bytes with the receiver's latest frame, taken under the receiver's lock.
    void fillFrom(const SerialReceiver &receiver);

    int voltage() const;
    int timeBase() const;
    const char16_t *couplingName() const;
    const char16_t *triggerTypeName() const;
    float triggerLevel() const;

    friend bool operator==(const ScopeFrame &, const ScopeFrame &) = default;
};
