#include "sanitizer_checks.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RELAYCAST_LEAK_CHECK 1
#endif
#if __has_feature(thread_sanitizer)
#define RELAYCAST_COUNT_REPORTS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(RELAYCAST_LEAK_CHECK)
#define RELAYCAST_LEAK_CHECK 1
#endif
#if defined(__SANITIZE_THREAD__) && !defined(RELAYCAST_COUNT_REPORTS)
#define RELAYCAST_COUNT_REPORTS 1
#endif

#ifdef RELAYCAST_LEAK_CHECK
#include <dlfcn.h>
#include <link.h>
#include <sanitizer/lsan_interface.h>
#endif
#ifdef RELAYCAST_COUNT_REPORTS
#include <atomic>
#include <cstdio>

namespace {
std::atomic<int> reports{0};
} // namespace

// Called by the sanitizer after each report it prints (it replaces the runtime's own, which
// only prints the summary line).
extern "C" void __sanitizer_report_error_summary(const char* summary) {
    ++reports;
    std::fprintf(stderr, "%s\n", summary);
}
#endif

namespace relaycast::test {

int withSanitizerChecks(int status) {
#ifdef RELAYCAST_LEAK_CHECK
    if (__lsan_do_recoverable_leak_check() != 0)
        status = 1;
#endif
#ifdef RELAYCAST_COUNT_REPORTS
    if (reports > 0) {
        std::fprintf(stderr, "%d ThreadSanitizer report(s)\n", reports.load());
        status = 1;
    }
#endif
    return status;
}

void keepLibrariesForLeakCheck() {
#ifdef RELAYCAST_LEAK_CHECK
    // Each dlopen adds a reference that is never given back.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && *info->dlpi_name)
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
#endif
}

bool sanitizerBuild() {
#if defined(RELAYCAST_LEAK_CHECK) || defined(RELAYCAST_COUNT_REPORTS)
    return true;
#else
    return false;
#endif
}

} // namespace relaycast::test
