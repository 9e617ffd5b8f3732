#pragma once
// The process's CPU time and peak memory, as the benchmarks and the soak
// driver measure them.
#include <sys/resource.h>

namespace kvbench {

// CPU time of the whole process (all its threads), in seconds.
inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of the process so far.
inline double PeakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0; // kB on Linux
}

} // namespace kvbench
