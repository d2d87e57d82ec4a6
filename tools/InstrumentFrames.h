#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

// What the simulated instrument puts on the line: frames of a marker and 137 data bytes, and the
// deliberate faults that tests and demonstrations ask for.
enum class Waveform { Sine, Square, Triangle, Sawtooth, Noise };

std::optional<Waveform> waveformFromName(std::string_view name);

struct HeaderCodes
{
    int Voltage = 1; // 0-3: 1, 10, 100, 0 V full scale
    int TimeBase = 3; // 0-15: 50 ns ... 2 ms per sample, 11-15 unused
    int Coupling = 2; // 0-3: GND, AC, DC, N/A
    int TriggerType = 8; // 0-15: 1 -EXTERN, 2 +EXTERN, 4 -INTERN, 8 +INTERN, others FREE RUN
    int TriggerLevel = 4; // 0-30: 0 -0.5, 1 0.5, 2 0.3, 4 0.1, 8 -0.1, 16 -0.3, others 0.0
};

// Empty when every code is in range and none would put a marker byte into the header (a trigger
// level code of 31 would); otherwise what is wrong.
std::string_view headerProblem(const HeaderCodes &codes);

struct SignalShape
{
    Waveform Wave = Waveform::Sine;
    double Cycles = 2.0; // periods across the 128 samples
    int Amplitude = 24; // peak deviation from mid-scale (32), 0-31
    double DriftHz = 0.25; // how many times a second the trace moves one period sideways
};

constexpr std::uint8_t FrameMarker = 0x7C;
constexpr std::size_t FrameDataSize = 137;

// The 137 data bytes of one frame: header, 128 samples (0-63), five zero tail bytes. Never a
// marker. seconds is the instrument's clock and moves the trace; rng feeds the noise waveform.
std::vector<std::uint8_t> frameData(const HeaderCodes &codes, const SignalShape &shape,
                                    double seconds, std::mt19937 &rng);

enum class Fault : unsigned {
    None = 0,
    Noise = 1u << 0, // random 7-bit bytes after the frame, markers included
    Split = 1u << 1, // header and samples as two blocks, each with its own marker
    OverLong = 1u << 2, // extra data bytes after the frame, so its block outgrows 138
    Silence = 1u << 3, // the line falls silent for a while after the frame
    Bit7 = 1u << 4, // bit 7 set on every byte of the frame
};

std::optional<Fault> faultFromName(std::string_view name);

// The bytes to write for one frame, marker(s) included, with the given faults applied.
std::vector<std::uint8_t> lineBytes(const std::vector<std::uint8_t> &data, unsigned faults,
                                    std::mt19937 &rng);
