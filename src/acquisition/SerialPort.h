#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#ifndef _WIN32
#include <termios.h>
#endif

class PortWake;

// The instrument's serial device, opened for reading only and exclusively, with the line settings
// the instrument uses: 19200 baud, 7 data bits, no parity, one stop bit, no flow control, DTR and
// RTS low. Nothing is ever written to it.
class SerialPort
{
public:
    enum class ReadStatus {
        Byte, // one byte arrived
        TimedOut, // no byte within the time-out
        Interrupted, // the wake-up came first
        Failed // the device failed or hung up (unplugged, other side closed)
    };

    struct Read
    {
        ReadStatus Status = ReadStatus::Failed;
        std::uint8_t Value = 0;
        int ErrorNumber = 0; // errno when Failed (on Windows translated from the system's error)
    };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device and applies the line settings. False when the device is missing, is not a
    // terminal, is this process's own terminal (isOwnTerminal()), or another program holds it;
    // errorNumber() then says why. Settings the device refuses are ignored.
    bool open(const std::string &devicePath);
    // Puts back the settings the device had before open(), then releases it.
    void close();
    bool isOpen() const;
    const std::string &devicePath() const { return Path; }
    int errorNumber() const { return ErrorNumber; }
    // Whether the last open() was refused because the device is the terminal this process was
    // started from or talks to (errorNumber() EBUSY): taking it would swallow the user's typing
    // and leave the terminal raw.
    bool isOwnTerminal() const { return OwnTerminal; }

    // Reads exactly one byte: at once when one is there, otherwise after the time-out. A woken
    // wake ends the wait early. On Windows the bytes already waiting are taken in one read and
    // handed out one by one. On Windows the time-out is the port's own, set at open: 1000 ms
    // for the one byte (500 per byte plus 500).
    Read readByte(std::chrono::milliseconds timeout, const PortWake *wake = nullptr);

private:
#ifdef _WIN32
    void *Handle = nullptr;
    // Bytes that were already waiting when a byte was asked for, taken in one read: under Wine
    // every read is a round trip to its server, which a byte at a time makes thousands a second.
    std::uint8_t Ahead[256] = {};
    unsigned AheadNext = 0;
    unsigned AheadCount = 0;
#else
    int Fd = -1;
#endif
    int ErrorNumber = 0;
    std::string Path;
    bool OwnTerminal = false;
#ifndef _WIN32
    std::optional<termios> SavedSettings;
#endif
};
