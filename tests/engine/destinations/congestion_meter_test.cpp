// When a destination's path counts as taking less than the stream, from the heartbeat's samples
// of its host output and connection, and what is said to reach its server; what the upload
// carries of them all.

#include "engine/destinations/congestion_meter.h"
#include "engine/destinations/upload_budget.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

using namespace relaycast;

namespace {

constexpr uint64_t kStreamBytesPerTick = 68750; // 1.1 Mbit/s in 500 ms
constexpr uint64_t kSlowBytesPerTick = 18750;   // 300 kbit/s

// The sample of heartbeat `n` (0 first, every 500 ms) of one scripted path.
using Script = std::function<CongestionSample(int n)>;

CongestionSample at(int n, uint64_t handed, double hostCongestion = 0, int32_t dropped = 0) {
    CongestionSample s;
    s.nowMs = 1000 + 500LL * n;
    s.handedBytes = handed;
    s.hostCongestion = hostCongestion;
    s.droppedFrames = dropped;
    return s;
}

CongestionSample withPath(CongestionSample s, uint64_t acked, uint64_t queued) {
    s.path = {true, acked, queued};
    return s;
}

struct Case {
    std::string name;
    Script script;
    int ticks;
    int congestedFrom;     // first heartbeat that reads congested; -1 never
    int32_t receivedKbps;  // at the end (-1: unknown); -2 not checked
    int32_t queuedMsAtEnd; // -2 not checked
};

TEST(CongestionMeter, PathsReadAsCongestedOnlyWhenTheyTakeLessThanTheStream) {
    const Case cases[] = {
        {"healthy connection",
         [](int n) {
             const uint64_t bytes = kStreamBytesPerTick * n;
             return withPath(at(n, bytes), bytes, 4000);
         },
         40, -1, 1100, 29},
        // The socket takes everything the host hands it, the far end acknowledges 300 kbit/s:
        // the host's own figures stay calm, the connection's queue grows.
        {"slow path seen in the connection",
         [](int n) {
             return withPath(at(n, kStreamBytesPerTick * n), kSlowBytesPerTick * n,
                             (kStreamBytesPerTick - kSlowBytesPerTick) * n);
         },
         20, 3, 300, -2},
        {"host send queue past half its drop point",
         [](int n) { return at(n, kStreamBytesPerTick * n, n >= 4 ? 0.67 : 0.0); }, 10, 5, -2, -1},
        {"host dropping frames",
         [](int n) { return at(n, kStreamBytesPerTick * n, 0.3, n >= 6 ? 40 * (n - 5) : 0); }, 10,
         7, -2, -2},
        // The socket takes nothing: the host's count stands still.
        {"host blocked on its socket",
         [](int n) { return at(n, kStreamBytesPerTick * std::min(n, 4)); }, 12, 9, -2, -2},
        {"one heartbeat of a full host queue",
         [](int n) { return at(n, kStreamBytesPerTick * n, n == 5 ? 1.0 : 0.1); }, 12, -1, -2, -2},
        // The far end acknowledges nothing: nothing reaches the server, and how far behind it
        // is cannot be known.
        {"nothing acknowledged",
         [](int n) { return withPath(at(n, kStreamBytesPerTick * n), 0, kStreamBytesPerTick * n); },
         12, 3, 0, -1},
        // A trickle is acknowledged (20 bytes a second, 0.16 kbit/s): 8000 bytes queued take
        // 400 s to leave at that rate, whatever rounding the shown rate needs.
        {"a trickle acknowledged",
         [](int n) { return withPath(at(n, kStreamBytesPerTick * n), 10ULL * n, 8000); }, 40, 3, -2,
         400000},
        // At 2 bytes a second the same queue takes 4000 s: past the hour, said as such.
        {"a trickle too thin to count the queue's time",
         [](int n) { return withPath(at(n, kStreamBytesPerTick * n), 1ULL * n, 8000); }, 40, 3, 1,
         kLongestQueuedMs + 1},
        // Pressure from the heartbeat whose own queue is past a second of the path.
        {"connection queue that fills at once",
         [](int n) {
             const uint64_t bytes = kStreamBytesPerTick * n;
             return withPath(at(n, bytes), bytes, n >= 8 ? 400000 : 4000);
         },
         12, 9, 1100, -2},
        // An output without congestion figure or connection (SRT) is never guessed congested.
        {"no figures at all", [](int n) { return at(n, kStreamBytesPerTick * n, -1); }, 12, -1, -1,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CongestionMeter meter;
        int congestedFrom = -1;
        for (int n = 0; n < c.ticks; ++n) {
            meter.sample(c.script(n));
            if (meter.congested() && congestedFrom < 0)
                congestedFrom = n;
        }
        EXPECT_EQ(congestedFrom, c.congestedFrom);
        EXPECT_EQ(meter.episodes(), c.congestedFrom >= 0 ? 1 : 0);
        // Within 2 %; unknown and nothing exactly.
        if (c.receivedKbps != -2) {
            EXPECT_NEAR(meter.receivedKbps(), c.receivedKbps,
                        c.receivedKbps > 0 ? c.receivedKbps / 50 + 1 : 0);
        }
        if (c.queuedMsAtEnd != -2) {
            EXPECT_NEAR(meter.queuedMs(), c.queuedMsAtEnd,
                        c.queuedMsAtEnd > 0 && c.queuedMsAtEnd <= kLongestQueuedMs
                            ? c.queuedMsAtEnd / 50 + 1
                            : 0);
        }
    }
}

TEST(CongestionMeter, AnEpisodeEndsAfterTenQuietSecondsAndANewRunStartsAfresh) {
    CongestionMeter meter;
    int n = 0;
    uint64_t handed = 0;
    const auto tick = [&](double hostCongestion) {
        handed += kStreamBytesPerTick;
        meter.sample(at(n++, handed, hostCongestion));
    };
    for (int i = 0; i < 4; ++i)
        tick(1.0);
    ASSERT_TRUE(meter.congested());
    EXPECT_EQ(meter.congestionPercent(), 100);
    // A path that swings around its limit stays one episode.
    for (int i = 0; i < 30; ++i)
        tick(i % 6 == 5 ? 0.8 : 0.1);
    EXPECT_TRUE(meter.congested());
    for (int i = 0; i < 19; ++i)
        tick(0.1);
    EXPECT_TRUE(meter.congested()) << "still within ten quiet seconds";
    tick(0.1);
    EXPECT_FALSE(meter.congested());
    EXPECT_EQ(meter.congestionPercent(), 10);
    tick(0.9);
    tick(0.9);
    EXPECT_TRUE(meter.congested());
    EXPECT_EQ(meter.episodes(), 2);

    // The host's counts start again with a new run of the output (after a cut).
    handed = 0;
    tick(0);
    EXPECT_FALSE(meter.congested());
    EXPECT_EQ(meter.episodes(), 2);
    EXPECT_EQ(meter.receivedKbps(), -1);
}

} // namespace

// What the live destinations need of the upload together, and what it carried at most once one
// of them could not send more: the figure a start is measured against.
TEST(UploadBudget, NeedsAddUpAndTheUploadCarriedIsTheMostSeenWhileAPathWasCongested) {
    EXPECT_EQ(uploadKbps(6000, 160, AddressKind::RTMP), 6468);
    EXPECT_EQ(uploadKbps(6000, 160, AddressKind::SRT), 6776);
    EXPECT_EQ(uploadKbps(std::numeric_limits<int32_t>::max(), 320, AddressKind::RIST),
              std::numeric_limits<int32_t>::max());
    UploadBudget budget;
    const struct {
        const char* what;
        QList<UploadUse> live;
        int32_t needed;
        int32_t carried;
    } beats[] = {
        {"nothing live", {}, 0, -1},
        {"two that keep up", {{6468, 6400, 6500, false}, {3234, 3200, 3300, false}}, 9702, -1},
        // SRT's connection cannot be read: what the host handed on counts.
        {"one congested", {{6468, 4000, 6400, true}, {3234, -1, 3000, false}}, 9702, 7000},
        {"a slower moment", {{6468, 2000, 6400, true}, {3234, 1000, 3000, false}}, 9702, 7000},
        {"more seen later", {{6468, 5000, 6400, true}, {3234, 3000, 3000, false}}, 9702, 8000},
        {"one stopped", {{3234, 3200, 3300, false}}, 3234, 8000},
    };
    for (const auto& beat : beats) {
        SCOPED_TRACE(beat.what);
        budget.sample(beat.live);
        EXPECT_EQ(budget.neededKbps(), beat.needed);
        EXPECT_EQ(budget.carriedKbps(), beat.carried);
    }
    EXPECT_FALSE(budget.exceededWith(4766));
    EXPECT_TRUE(budget.exceededWith(4767));
    EXPECT_FALSE(UploadBudget().exceededWith(1000000)) << "nothing seen, nothing to warn of";
}
