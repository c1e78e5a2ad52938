#include "module/srt_guard.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>
#include <util/base.h>

#include <dlfcn.h>

#include <string>

using relaycast::SrtGuard;
using relaycast::test::LogCapture;

namespace {

std::string fakeLibrary(const char* name) {
    return std::string(RELAYCAST_TEST_BINARY_DIR) + "/fake_srt/" + name + ".so";
}

// Reads a counter the fake library keeps; the guard and the test share one loaded copy.
int fakeCounter(const std::string& library, const char* counter) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return -1;
    auto read = reinterpret_cast<int (*)()>(dlsym(handle, counter));
    const int value = read ? read() : -1;
    dlclose(handle);
    return value;
}

TEST(SrtGuard, LibraryAcceptingEveryCallHoldsAThousandReferencesAndGivesThemAllBack) {
    const std::string library = fakeLibrary("fake_srt_accepting");
    LogCapture log;
    SrtGuard guard;
    guard.acquireFrom({library});

    EXPECT_EQ(guard.referenceCount(), SrtGuard::kMaxReferences);
    EXPECT_EQ(fakeCounter(library, "fake_srt_startup_calls"), 1000);
    EXPECT_TRUE(log.contains("[relaycast] SRT protection active (1000 references)"));

    guard.release();
    EXPECT_EQ(fakeCounter(library, "fake_srt_cleanup_calls"), 1000);
    EXPECT_EQ(guard.referenceCount(), 0);

    // Released once: a second release must not clean up again.
    guard.release();
    EXPECT_EQ(fakeCounter(library, "fake_srt_cleanup_calls"), 1000);
}

TEST(SrtGuard, LibraryRefusingTheFirstCallHoldsNothingAndCleansNothing) {
    const std::string library = fakeLibrary("fake_srt_refusing");
    LogCapture log;
    SrtGuard guard;
    guard.acquireFrom({library});

    EXPECT_EQ(guard.referenceCount(), 0);
    EXPECT_EQ(fakeCounter(library, "fake_srt_startup_calls"), 1);
    EXPECT_TRUE(log.contains("[relaycast] SRT protection active (0 references)"));

    guard.release();
    EXPECT_EQ(fakeCounter(library, "fake_srt_cleanup_calls"), 0);
}

TEST(SrtGuard, StopsAtTheFirstRefusedCallAndReleasesExactlyWhatItTook) {
    const std::string library = fakeLibrary("fake_srt_late_refusal");
    SrtGuard guard;
    guard.acquireFrom({library});

    EXPECT_EQ(guard.referenceCount(), 250);
    EXPECT_EQ(fakeCounter(library, "fake_srt_startup_calls"), 251);
    guard.release();
    EXPECT_EQ(fakeCounter(library, "fake_srt_cleanup_calls"), 250);
}

TEST(SrtGuard, LibraryWithoutEntryPointsIsIgnoredSilently) {
    LogCapture log;
    SrtGuard guard;
    guard.acquireFrom({fakeLibrary("fake_srt_without_entry_points")});

    EXPECT_EQ(guard.referenceCount(), 0);
    EXPECT_FALSE(log.contains("SRT"));
    guard.release();
}

TEST(SrtGuard, NoLoadableLibraryLogsTheWarning) {
    LogCapture log;
    SrtGuard guard;
    guard.acquireFrom({"/nonexistent/libsrt.so.1.5", "libsrt-does-not-exist.so"});

    EXPECT_EQ(guard.referenceCount(), 0);
    const QStringList warnings = log.linesAt(LOG_WARNING);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings.first(),
              "[relaycast] SRT library not found; streams to SRT servers may cut each other");
}

TEST(SrtGuard, PrefersTheLibraryTheProcessAlreadyLoaded) {
    // The refusing library is loaded first, as the host's copy would be: its start-up count is
    // the one that protects the host's streams, even though the other name comes first.
    const std::string loaded = fakeLibrary("fake_srt_refusing");
    void* keep = dlopen(loaded.c_str(), RTLD_NOW);
    ASSERT_NE(keep, nullptr);
    const int before = fakeCounter(loaded, "fake_srt_startup_calls");

    const std::string spare = fakeLibrary("fake_srt_spare");
    ASSERT_EQ(fakeCounter(spare, "fake_srt_startup_calls"), -1) << "spare must not be loaded yet";

    SrtGuard guard;
    guard.acquireFrom({spare, loaded});
    EXPECT_EQ(fakeCounter(loaded, "fake_srt_startup_calls"), before + 1);
    EXPECT_EQ(fakeCounter(spare, "fake_srt_startup_calls"), -1)
        << "the spare was loaded needlessly";
    guard.release();
    dlclose(keep);
}

TEST(SrtGuard, TheLibraryTheHostsCallsReachWinsOverEarlierLoadedNames) {
    // Two builds loaded, as in Debian's OBS: the host's calls reach the second one named.
    const std::string first = fakeLibrary("fake_srt_accepting");
    const std::string called = fakeLibrary("fake_srt_spare");
    void* keepFirst = dlopen(first.c_str(), RTLD_NOW);
    void* keepCalled = dlopen(called.c_str(), RTLD_NOW);
    ASSERT_TRUE(keepFirst && keepCalled);
    const int firstBefore = fakeCounter(first, "fake_srt_startup_calls");
    const int calledBefore = fakeCounter(called, "fake_srt_startup_calls");
    const int cleanupsBefore = fakeCounter(called, "fake_srt_cleanup_calls");

    SrtGuard guard;
    guard.acquireFrom({first, called}, dlsym(keepCalled, "srt_startup"));
    EXPECT_EQ(fakeCounter(called, "fake_srt_startup_calls"), calledBefore + 1000);
    EXPECT_EQ(fakeCounter(first, "fake_srt_startup_calls"), firstBefore);
    guard.release();
    EXPECT_EQ(fakeCounter(called, "fake_srt_cleanup_calls"), cleanupsBefore + 1000);
    dlclose(keepCalled);
    dlclose(keepFirst);
}

TEST(SrtGuard, DebianNamesComeFirstInTheSearchOrder) {
    const auto names = SrtGuard::defaultLibraryNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "libsrt.so.1.5");
    EXPECT_EQ(names[1], "libsrt-gnutls.so.1.5");
}

} // namespace

namespace {

TEST(ModuleSrtGuard, TakesItsReferencesOnceUntilReleased) {
    LogCapture log;
    relaycast::holdSrtReferences();
    const int taken = relaycast::moduleSrtGuard().referenceCount();
    relaycast::holdSrtReferences();
    EXPECT_EQ(relaycast::moduleSrtGuard().referenceCount(), taken);
    // One outcome line however often streams start: the activation line or the warning.
    EXPECT_EQ(log.count("SRT protection active") + log.count("SRT library not found"), 1);

    relaycast::releaseSrtReferences();
    EXPECT_EQ(relaycast::moduleSrtGuard().referenceCount(), 0);
}

} // namespace
