// Which destinations share an encode: one table of what each destination asks for against the
// renditions the entry runs.

#include "engine/encoding/rendition_plan.h"

#include <gtest/gtest.h>

using namespace relaycast;

namespace {

DestConfig asking(const QString& id, int32_t cap, int32_t width = 0, int32_t height = 0,
                  int32_t track = 0, int32_t delay = 0) {
    DestConfig destination{id, QStringLiteral("rtmp://h/live"), QStringLiteral("k")};
    destination.envio = {cap, width, height, track, delay};
    return destination;
}

} // namespace

TEST(RenditionPlan, DestinationsAskingTheSameEncodeShareOne) {
    struct Case {
        const char* what;
        QList<DestConfig> destinations;
        QStringList expected; // per rendition: "label:ids"
    } cases[] = {
        {"nothing asked: one encode", {asking("a", 0), asking("b", 0)}, {"6.0 Mbps:a,b"}},
        {"a cap above the entry's bitrate, the picture's own size, audio and delay: the entry's",
         {asking("a", 0), asking("b", 9000, 1920, 1080, 2, 30)},
         {"6.0 Mbps:a,b"}},
        {"a cap below it: an encode of its own, shared by an equal cap",
         {asking("a", 3500), asking("b", 0), asking("c", 3500, 0, 0, 1)},
         {"3.5 Mbps:a,c", "6.0 Mbps:b"}},
        {"a size of its own is an encode, with the entry's bitrate or its cap",
         {asking("a", 0, 1280, 720), asking("b", 2500, 1280, 720), asking("c", 0, 1280, 720),
          asking("d", 900)},
         {"1280x720 6.0 Mbps:a,c", "1280x720 2.5 Mbps:b", "900 kbps:d"}},
        {"six destinations on three renditions",
         {asking("t", 6000), asking("y", 0), asking("f", 0), asking("k", 3000, 1280, 720),
          asking("x", 3000, 1280, 720), asking("v", 20000)},
         {"6.0 Mbps:t,y,f,v", "1280x720 3.0 Mbps:k,x"}},
        {"no destinations, no encodes", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryConfig entry;
        entry.videoKbps = 6000;
        entry.destinos = c.destinations;
        QStringList got;
        for (const PlannedRendition& rendition : planRenditions(entry, 1920, 1080))
            got << renditionLabel(rendition.key) + ':' + rendition.destinationIds.join(',');
        EXPECT_EQ(got, c.expected);
    }
}
