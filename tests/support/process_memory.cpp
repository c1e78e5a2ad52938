#include "process_memory.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

namespace relaycast::test {

long residentKib() {
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

long heapInUseKib() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string loadAverage() {
    std::ifstream load("/proc/loadavg");
    std::string one, five, fifteen;
    load >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace relaycast::test
