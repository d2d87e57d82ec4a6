#pragma once

#include <chrono>
#include <ctime>

// Share of one core that the whole process (every thread) has used since the object was made:
// 1.0 is one core busy all the time.
class CpuShare
{
public:
    CpuShare() { restart(); }

    void restart()
    {
        CpuStart = processCpuSeconds();
        WallStart = std::chrono::steady_clock::now();
    }

    double share() const
    {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - WallStart).count();
        return wall > 0 ? (processCpuSeconds() - CpuStart) / wall : 0.0;
    }

    static double processCpuSeconds()
    {
        timespec now {};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }

private:
    double CpuStart = 0;
    std::chrono::steady_clock::time_point WallStart;
};
