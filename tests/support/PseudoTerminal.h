#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A real pseudo-terminal standing in for the instrument's serial device: the program under test
// opens slavePath(); the test writes the instrument's bytes into the master side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &slavePath() const { return SlavePath; }
    int masterFd() const { return MasterFd; }

    // Writes every byte (retrying short writes); false when the master is closed or fails.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(const std::vector<std::uint8_t> &bytes) { return write(std::span(bytes)); }

    // Reads what arrived on the master side (bytes written by the program) within the time-out.
    std::vector<std::uint8_t> readAvailable(std::chrono::milliseconds timeout);

    // Closes the master side: the device vanishes for whoever holds the slave open.
    void closeMaster();

private:
    int MasterFd = -1;
    std::string SlavePath;
};

// A whole frame on the line: a marker and 137 data bytes. Data bytes must not be markers.
std::vector<std::uint8_t> lineFrame(const std::vector<std::uint8_t> &data, std::uint8_t marker = 0x7C);
