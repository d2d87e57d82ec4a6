#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// The simulated instrument as a child process on its own pseudo-terminal. Started with a plain
// fork and exec, which the sanitizers follow; it dies with the test process even when the test
// is killed, and the object ends and reaps it whatever happened in between.
class InstrumentProcess
{
public:
    explicit InstrumentProcess(const std::vector<std::string> &arguments,
                               std::chrono::milliseconds startBound = std::chrono::seconds(10));
    ~InstrumentProcess();
    InstrumentProcess(const InstrumentProcess &) = delete;
    InstrumentProcess &operator=(const InstrumentProcess &) = delete;

    // The first line of its output, without the line end: the device path unless --device was
    // given; empty when it printed no whole line within the start bound.
    const std::string &firstLine() const { return FirstLine; }
    bool running();
    void signal(int number) const;
    // The exit code (128 + signal when killed), or -1 when it has not ended within the bound.
    int exitCode(std::chrono::milliseconds bound);

private:
    bool reap(int options);

    pid_t Pid = -1;
    int Status = -1;
    // Kept open while the child lives, so that writing more output never kills it.
    int Output = -1;
    std::string FirstLine;
};
