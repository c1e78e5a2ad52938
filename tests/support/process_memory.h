#pragma once

#include <string>

namespace relaycast::test {

// Resident size of this process in KiB.
long residentKib();

// Memory handed out by the C library's allocator and not given back, in KiB.
long heapInUseKib();

// CPU time this process has used, in seconds (every thread).
double processCpuSeconds();

// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
std::string loadAverage();

} // namespace relaycast::test
