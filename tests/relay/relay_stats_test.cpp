#include "module/ui_text.h"
#include "relay/relay_stats.h"
#include "relay/relay_watch.h"

#include <gtest/gtest.h>

using namespace relaycast;

namespace {

const RelaySettings kRelay = {"rtmp://127.0.0.1:19352/in", "http://127.0.0.1:19354/stats",
                              "Rel4ySecretAbcdefgh", ""};

const QList<RelayedDestination> kDestinations = {
    {"up", "rtmp://127.0.0.1:19351/live", "platformkey123"},
    {"down", "rtmp://127.0.0.1:19353/live", "downkey-5678"},
    {"tls", "rtmps://live.example/app", "tlskey-9012"},
    {"srt", "srt://srt.example:9000", "srt-streamid"},
    {"rist", "rist://rist.example:5000", ""},
};

// A page nginx-rtmp 1.1.4 served (trimmed) while OBS published to the relay and one push was
// up: the push to 19353 was refused, so it is not listed at all.
const char* const kRealPage = R"(<?xml version="1.0" encoding="utf-8" ?>
<rtmp>
<nginx_version>1.22.1</nginx_version>
<nginx_rtmp_version>1.1.4</nginx_rtmp_version>
<uptime>5</uptime>
<naccepted>1</naccepted>
<bw_in>0</bw_in>
<bytes_in>104463</bytes_in>
<server>
<application>
<name>in</name>
<live>
<stream>
<name>Rel4ySecretAbcdefgh</name>
<time>3665</time><bw_in>812000</bw_in>
<bytes_in>101473</bytes_in>
<bw_out>811000</bw_out>
<bytes_out>101417</bytes_out>
<bw_audio>0</bw_audio>
<bw_video>0</bw_video>
<client><id>2</id><address>127.0.0.1:19351/live/platformkey123</address><time>3665</time><flashver>ngx-local-relay</flashver><dropped>0</dropped><avsync>-20</avsync><timestamp>3503</timestamp><active/></client>
<client><id>1</id><address>127.0.0.1</address><time>3845</time><flashver>FMLE/3.0 (compatible; Lavf59.27</flashver><dropped>0</dropped><avsync>-20</avsync><timestamp>3503</timestamp><publishing/><active/></client>
<meta><video><width>320</width><height>240</height><codec>H264</codec></video><audio><codec>AAC</codec></audio></meta>
<nclients>2</nclients>
<publishing/>
<active/>
</stream>
<nclients>2</nclients>
</live>
</application>
</server>
</rtmp>
)";

QString with(const QString& page, const QString& from, const QString& to) {
    return QString(page).replace(from, to);
}

QList<bool> connectedOf(const RelayStats& stats) {
    QList<bool> connected;
    for (const RelayPushState& push : stats.pushes)
        connected << push.connected;
    return connected;
}

} // namespace

TEST(RelayStats, ReadsThePublisherAndWhichPushesAreUp) {
    const QString page = QString::fromUtf8(kRealPage);
    const QString relayClient =
        "<client><id>2</id><address>127.0.0.1:19351/live/platformkey123</address>";
    struct Case {
        const char* what;
        QString page;
        bool publisher;
        QList<bool> connected; // up, down, tls, srt
    };
    const Case cases[] = {
        {"real page", page, true, {true, false, false, false}},
        {"TLS push through its stunnel port and SRT's ffmpeg",
         with(page, relayClient,
              relayClient + "<flashver>ngx-local-relay</flashver><active/></client>"
                            "<client><id>3</id><address>127.0.0.1:19401/app/tlskey-9012</address>"
                            "<flashver>ngx-local-relay</flashver><active/></client>"
                            "<client><id>4</id><address>127.0.0.1</address>"
                            "<flashver>relaycast-srt</flashver><active/></client><client><id>5</id>"
                            "<address>x</address>"),
         true,
         {true, false, true, true}},
        {"push listed but not yet sending",
         with(page,
              "<flashver>ngx-local-relay</flashver>"
              "<dropped>0</dropped><avsync>-20</avsync>"
              "<timestamp>3503</timestamp><active/>",
              "<flashver>ngx-local-relay</flashver>"),
         true,
         {false, false, false, false}},
        {"another key at the same server is another push",
         with(page, "/live/platformkey123<", "/live/otherkey<"),
         true,
         {false, false, false, false}},
        {"another name's stream in our application is not ours",
         with(page, "<name>Rel4ySecretAbcdefgh</name>", "<name>streamname</name>"),
         false,
         {false, false, false, false}},
        {"another application's stream is not ours",
         with(page, "<name>in</name>", "<name>in-other</name>"),
         false,
         {false, false, false, false}},
        {"no publisher yet",
         "<rtmp><server><application><name>in</name><live>"
         "<nclients>0</nclients></live></application></server></rtmp>",
         false,
         {false, false, false, false}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const RelayStats stats = readRelayStats(test.page.toUtf8(), kRelay, kDestinations);
        ASSERT_TRUE(stats.error.isEmpty());
        EXPECT_EQ(stats.publisherConnected, test.publisher);
        EXPECT_EQ(connectedOf(stats), test.connected);
        QStringList ids;
        for (const RelayPushState& push : stats.pushes)
            ids << push.destinationId;
        EXPECT_EQ(ids, QStringList({"up", "down", "tls", "srt"})); // RIST is not relayed
    }
    const RelayStats real = readRelayStats(page.toUtf8(), kRelay, kDestinations);
    EXPECT_EQ(real.bytesIn, 101473);
    EXPECT_EQ(real.bwIn, 812000);
    EXPECT_EQ(real.bytesOut, 101417);
    EXPECT_EQ(real.bwOut, 811000);
}

TEST(RelayStats, APageThatIsNotWholeIsAnErrorNotAGuess) {
    const QString page = QString::fromUtf8(kRealPage);
    for (const QByteArray& bad :
         {QByteArray(), QByteArray("<html>404</html>"), page.left(page.size() / 2).toUtf8(),
          page.toUtf8().replace("</stream>", ""),
          QByteArray("<rtmp><server>&bogus;</server></rtmp>"), QByteArray("\xff\xfe<rtmp>")}) {
        const RelayStats stats = readRelayStats(bad, kRelay, kDestinations);
        EXPECT_FALSE(stats.error.isEmpty()) << bad.left(40).toStdString();
        EXPECT_TRUE(stats.pushes.isEmpty());
        EXPECT_FALSE(stats.publisherConnected);
    }
}

// What a relayed destination's card and the relay's row read, from OBS's output to the relay
// and the pages read so far.
TEST(RelayWatch, ADestinationReadsAsTheRelaysPageShowsItsPush) {
    using State = DestinationState;
    const auto output = [](State state) {
        DestinationStatus status;
        status.state = state;
        status.message = state == State::Failed ? QStringLiteral("refused") : QString();
        status.attempts = state == State::Reconnecting ? 3 : 0;
        return status;
    };
    const auto page = [](bool publisher, bool up) {
        RelayStats stats;
        stats.publisherConnected = publisher;
        stats.pushes = {{"up", up}};
        return stats;
    };
    RelayStats unreadable;
    unreadable.error = QStringLiteral("el relé no responde (Timeout was reached)");
    struct Case {
        const char* what;
        State relay;
        std::optional<RelayStats> read; // one read at 1000 ms, if any
        int64_t nowMs;
        RelayLink link;
        State destination;
        QString message;
    };
    const Case cases[] = {
        {"OBS still connecting",
         State::Starting,
         {},
         1000,
         RelayLink::Connecting,
         State::Starting,
         {}},
        {"live, no page yet", State::Live, {}, 1000, RelayLink::Connecting, State::Starting, {}},
        {"push up", State::Live, page(true, true), 2000, RelayLink::Live, State::Live, {}},
        {"push down", State::Live, page(true, false), 2000, RelayLink::Live, State::Reconnecting,
         uiText("el relé no llega a este destino; lo reintenta cada segundo")},
        {"no stream at the relay", State::Live, page(false, false), 2000, RelayLink::NotReceiving,
         State::Reconnecting, uiText("el relé no recibe la emisión de OBS")},
        {"page gone stale", State::Live, page(true, true), 1000 + kRelayPageStaleMs,
         RelayLink::Unreachable, State::Starting,
         uiText("la página de estadísticas del relé no responde: no se sabe si llega")},
        // Nothing known: not live for whoever reads the state alone (remote requests).
        {"page read once, long ago", State::Live, page(true, true), 1000 + 10 * kRelayPageStaleMs,
         RelayLink::Unreachable, State::Starting,
         uiText("la página de estadísticas del relé no responde: no se sabe si llega")},
        {"page never read", State::Live, unreadable, 2000, RelayLink::Unreachable, State::Starting,
         uiText("la página de estadísticas del relé no responde: no se sabe si llega")},
        {"OBS's output failed", State::Failed, page(true, true), 2000, RelayLink::Unreachable,
         State::Failed, QStringLiteral("refused")},
        {"OBS's output recovering",
         State::Reconnecting,
         page(true, true),
         2000,
         RelayLink::Reconnecting,
         State::Reconnecting,
         {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        RelayWatch watch;
        // Read while OBS's output to the relay runs.
        EXPECT_EQ(watch.readDue(output(test.relay), 0), test.relay != State::Failed);
        watch.readStarted(0);
        EXPECT_FALSE(watch.readDue(output(test.relay), 5000)); // one read at a time
        if (test.read)
            watch.readEnded(1000, *test.read);
        EXPECT_EQ(watch.link(output(test.relay), test.nowMs), test.link);
        const DestinationStatus status =
            watch.destinationStatus(output(test.relay), "up", test.nowMs);
        EXPECT_EQ(status.state, test.destination);
        EXPECT_EQ(status.message, test.message);
        if (test.relay == State::Reconnecting) {
            EXPECT_EQ(status.attempts, 3);
        }
    }
    RelayWatch idle;
    EXPECT_FALSE(idle.readDue(output(State::Idle), 0));
    EXPECT_EQ(idle.link(output(State::Idle), 0), RelayLink::Idle);
    RelayWatch read;
    read.readStarted(0);
    read.readEnded(500, page(true, true));
    EXPECT_FALSE(read.readDue(output(State::Live), kRelayReadEveryMs - 1));
    EXPECT_TRUE(read.readDue(output(State::Live), kRelayReadEveryMs));
    EXPECT_EQ(read.pushesConnected(600), std::optional(std::pair(1, 1)));
    EXPECT_EQ(read.pushesConnected(500 + kRelayPageStaleMs), std::nullopt);
}
