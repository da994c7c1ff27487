#pragma once
// Timing and peak memory for the benchmark programs, natively and under Wine.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
// After windows.h: it needs its types.
#include <psapi.h>
#endif

inline double BenchNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The most memory the process has held at once so far, in bytes: VmHWM on
// Linux, the peak working set on Windows. 0 when it cannot be read.
inline uint64_t PeakMemory() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters;
    std::memset(&counters, 0, sizeof(counters));
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
#else
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    uint64_t kib = 0;
    while (std::fgets(line, sizeof(line), status))
        if (std::sscanf(line, "VmHWM: %llu kB", reinterpret_cast<unsigned long long*>(&kib)) == 1) break;
    std::fclose(status);
    return kib * 1024;
#endif
}
