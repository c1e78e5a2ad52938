// The main of every *_widget_test.cpp: a real QApplication on the X display (xcb, so native
// windows exist for previews), the real host started headless, then the tests; the run fails
// when any host allocation is still alive after shutdown.

#include "support/headless_host.h"
#include "support/sanitizer_checks.h"
#include "support/test_host.h"

#include <util/bmem.h>

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// Widget tests are written against the Spanish texts unless a file opts into another locale
// with RELAYCAST_HOST_TEST_LOCALE (test_host.h).
extern "C" __attribute__((weak)) const char* relaycastHostTestLocale() {
    return "es-ES";
}

// Host allocations a test file may leave alive because of a known defect of the host itself;
// such a file defines this with the count and the reason.
extern "C" __attribute__((weak)) long relaycastHostTestToleratedLeaks() {
    return 0;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 1;
    long leaks = 0;
    {
        QApplication app(argc, argv);
        relaycast::test::HeadlessHost host;
        std::string error;
        if (!host.start(&error, relaycastHostTestLocale())) {
            std::fprintf(stderr, "widget test: could not start the host: %s\n", error.c_str());
            return 1;
        }
        relaycast::test::removeSceneDataAfterEachTest();
        result = RUN_ALL_TESTS();
        // Widgets that hold host objects go before the host does.
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        relaycast::test::keepLibrariesForLeakCheck();
        leaks = host.shutdown();
    }
    if (leaks > relaycastHostTestToleratedLeaks()) {
        std::fprintf(stderr, "widget test: %ld host allocation(s) still alive after shutdown\n",
                     leaks);
        return 1;
    }
    std::fflush(nullptr);
    // The host's two SRT libraries crash in their static destructors once SRT was used.
    std::_Exit(relaycast::test::withSanitizerChecks(result));
}
