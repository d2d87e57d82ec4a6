#include "InstrumentFrames.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::optional<Waveform> waveformFromName(std::string_view name)
{
    if (name == "sine")
        return Waveform::Sine;
    if (name == "square")
        return Waveform::Square;
    if (name == "triangle")
        return Waveform::Triangle;
    if (name == "sawtooth")
        return Waveform::Sawtooth;
    if (name == "noise")
        return Waveform::Noise;
    return std::nullopt;
}

std::optional<Fault> faultFromName(std::string_view name)
{
    if (name == "noise")
        return Fault::Noise;
    if (name == "split")
        return Fault::Split;
    if (name == "overlong")
        return Fault::OverLong;
    if (name == "silence")
        return Fault::Silence;
    if (name == "bit7")
        return Fault::Bit7;
    return std::nullopt;
}

std::string_view headerProblem(const HeaderCodes &codes)
{
    if (codes.Voltage < 0 || codes.Voltage > 3)
        return "voltage code must be 0-3";
    if (codes.TimeBase < 0 || codes.TimeBase > 15)
        return "time-base code must be 0-15";
    if (codes.Coupling < 0 || codes.Coupling > 3)
        return "coupling code must be 0-3";
    if (codes.TriggerType < 0 || codes.TriggerType > 15)
        return "trigger-type code must be 0-15";
    // 31 sets bits 2-6 of byte 3, which is a marker and would cut the frame in two.
    if (codes.TriggerLevel < 0 || codes.TriggerLevel > 30)
        return "trigger-level code must be 0-30";
    return {};
}

namespace {

// One period of each shape, x in [0, 1), answer in [-1, 1].
double shapeAt(Waveform wave, double x, std::mt19937 &rng)
{
    switch (wave) {
    case Waveform::Sine:
        return std::sin(2.0 * std::numbers::pi * x);
    case Waveform::Square:
        return x < 0.5 ? 1.0 : -1.0;
    case Waveform::Triangle:
        return 1.0 - 4.0 * std::abs(x - 0.5);
    case Waveform::Sawtooth:
        return 2.0 * x - 1.0;
    case Waveform::Noise:
        return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
    }
    return 0.0;
}

std::uint8_t randomByte(std::mt19937 &rng, int lowest, int highest)
{
    return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(lowest, highest)(rng));
}

} // namespace

std::vector<std::uint8_t> frameData(const HeaderCodes &codes, const SignalShape &shape,
                                    double seconds, std::mt19937 &rng)
{
    std::vector<std::uint8_t> data(FrameDataSize, 0);
    data[0] = static_cast<std::uint8_t>(codes.Voltage << 2 | codes.Coupling << 4);
    data[1] = static_cast<std::uint8_t>(codes.TimeBase);
    data[2] = static_cast<std::uint8_t>(codes.TriggerType << 2);
    data[3] = static_cast<std::uint8_t>(codes.TriggerLevel << 2);

    const double phase = shape.DriftHz * seconds;
    const int amplitude = std::clamp(shape.Amplitude, 0, 31);
    for (int i = 0; i < 128; ++i) {
        const double x = static_cast<double>(i) / 128.0 * shape.Cycles + phase;
        const double value = shapeAt(shape.Wave, x - std::floor(x), rng);
        const long sample = std::lround(32.0 + amplitude * value);
        data[4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(std::clamp(sample, 0L, 63L));
    }
    return data;
}

std::vector<std::uint8_t> lineBytes(const std::vector<std::uint8_t> &data, unsigned faults,
                                    std::mt19937 &rng)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 32);
    bytes.push_back(FrameMarker);
    if (faults & static_cast<unsigned>(Fault::Split)) {
        bytes.insert(bytes.end(), data.begin(), data.begin() + 4);
        bytes.push_back(FrameMarker);
        bytes.insert(bytes.end(), data.begin() + 4, data.end());
    } else {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    if (faults & static_cast<unsigned>(Fault::OverLong)) {
        // Enough to pass 138 data bytes in the block, each a plain sample value.
        const int extra = std::uniform_int_distribution<int>(3, 12)(rng);
        for (int i = 0; i < extra; ++i)
            bytes.push_back(randomByte(rng, 0, 63));
    }
    if (faults & static_cast<unsigned>(Fault::Bit7)) {
        for (std::uint8_t &byte : bytes)
            byte |= 0x80;
    }
    if (faults & static_cast<unsigned>(Fault::Noise)) {
        const int count = std::uniform_int_distribution<int>(1, 20)(rng);
        for (int i = 0; i < count; ++i)
            bytes.push_back(randomByte(rng, 0, 0x7F));
    }
    return bytes;
}
