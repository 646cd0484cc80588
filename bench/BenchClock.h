#pragma once

#include <ctime>

// Processor time of the clock given (CLOCK_PROCESS_CPUTIME_ID, say), in milliseconds.
inline double cpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}
