#pragma once
#include <ctime>

// Linked into a window program (ShownProbe.cpp), reports on standard output the moment its
// first top-level window has been exposed and painted: one line "shown <CLOCK_MONOTONIC
// nanoseconds> <CPU microseconds used so far>". Then the program ends at once, unless PROBE_STAY is
// set in the environment, in which case it keeps running (for idle measurements).
namespace ShownProbe {
// Nanoseconds of CLOCK_MONOTONIC, comparable between processes.
inline long long MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
} // namespace ShownProbe
