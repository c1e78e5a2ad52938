// The main of every *_host_test.cpp: starts the real host headless once per process, runs the
// tests, shuts the host down and fails the run when any host allocation is still alive.

#include "support/headless_host.h"
#include "support/own_mounts.h"
#include "support/sanitizer_checks.h"
#include "support/test_host.h"

#include <gtest/gtest.h>

#include <media-io/audio-io.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

// Tests are written against the Spanish texts; a file that needs another locale defines this
// (RELAYCAST_HOST_TEST_LOCALE in test_host.h) and runs as its own process.
extern "C" __attribute__((weak)) const char* relaycastHostTestLocale() {
    return "es-ES";
}

// The host's speaker layout (SPEAKERS_STEREO); a file that needs the host to mix more channels
// defines it with RELAYCAST_HOST_TEST_SPEAKERS (test_host.h).
extern "C" __attribute__((weak)) int relaycastHostTestSpeakers() {
    return SPEAKERS_STEREO;
}

// Host allocations a test file may leave alive because of a known defect of the host itself
// (not of the plug-in); such a file defines this with the exact count and the reason.
extern "C" __attribute__((weak)) long relaycastHostTestToleratedLeaks() {
    return 0;
}

// Whether the file's tests change what the process sees of /etc (own_mounts.h); defined with
// RELAYCAST_HOST_TEST_OWN_MOUNTS (test_host.h).
extern "C" __attribute__((weak)) bool relaycastHostTestOwnMounts() {
    return false;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Before the host starts its threads; a test that needs it skips when this failed.
    QString why;
    if (relaycastHostTestOwnMounts() && !relaycast::test::enterOwnMountNamespace(&why))
        std::fprintf(stderr, "host test: %s\n", why.toUtf8().constData());

    // As OBS's own main does: the RTMP output writes TLS records with write(), which raises
    // SIGPIPE when the server has gone.
    std::signal(SIGPIPE, SIG_IGN);
    relaycast::test::HeadlessHost host;
    std::string error;
    if (!host.start(&error, relaycastHostTestLocale(), relaycastHostTestSpeakers())) {
        std::fprintf(stderr, "host test: could not start the host: %s\n", error.c_str());
        return 1;
    }
    relaycast::test::removeSceneDataAfterEachTest();
    const int result = RUN_ALL_TESTS();

    relaycast::test::keepLibrariesForLeakCheck();
    const long leaks = host.shutdown();
    const bool leaked = leaks > relaycastHostTestToleratedLeaks();
    if (leaked) {
        std::fprintf(stderr,
                     "host test: %ld host allocation(s) still alive after shutdown: a host "
                     "reference leaked.\n",
                     leaks);
    }
    // The host process holds two SRT libraries (obs-ffmpeg's and libavformat's); once a stream
    // used SRT, their static destructors crash at exit. Everything is already shut down.
    std::fflush(nullptr);
    std::_Exit(relaycast::test::withSanitizerChecks(leaked ? 1 : result));
}
