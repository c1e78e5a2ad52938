#include "address/destination_mapping.h"

#include <gtest/gtest.h>

using namespace relaycast;

TEST(MapDestination, RtmpGoesToTheRtmpOutputWithKeyAsStored) {
    const DestinationMapping mapping = mapDestination("  rtmp://h/live  ", " clave ", "ignored");
    EXPECT_EQ(mapping.kind, AddressKind::RTMP);
    EXPECT_EQ(mapping.outputType, "rtmp_output");
    EXPECT_EQ(mapping.serviceType, "rtmp_custom");
    EXPECT_EQ(mapping.server, "rtmp://h/live");
    EXPECT_EQ(mapping.key, " clave ");
    // A passphrase has no meaning for RTMP.
    EXPECT_FALSE(mapping.useAuth);
    EXPECT_EQ(mapping.password, "");
    EXPECT_EQ(mapping.error, "");
}

TEST(MapDestination, RtmpsAlsoUsesTheRtmpOutput) {
    const DestinationMapping mapping = mapDestination("RTMPS://h:443/app", "k", "");
    EXPECT_EQ(mapping.kind, AddressKind::RTMP);
    EXPECT_EQ(mapping.outputType, "rtmp_output");
    EXPECT_EQ(mapping.server, "RTMPS://h:443/app");
}

TEST(MapDestination, SrtWithAPassphraseTurnsAuthenticationOn) {
    const DestinationMapping mapping =
        mapDestination("srt://h:9000?latency=200000", "stream-id", "secreta1234");
    EXPECT_EQ(mapping.kind, AddressKind::SRT);
    EXPECT_EQ(mapping.outputType, "ffmpeg_mpegts_muxer");
    EXPECT_EQ(mapping.serviceType, "rtmp_custom");
    EXPECT_EQ(mapping.server, "srt://h:9000?latency=200000"); // the query travels unchanged
    EXPECT_EQ(mapping.key, "stream-id");
    EXPECT_TRUE(mapping.useAuth);
    EXPECT_EQ(mapping.password, "secreta1234");
}

TEST(MapDestination, SrtWithoutAPassphraseSendsNoAuthentication) {
    const DestinationMapping mapping = mapDestination("srt://h:9000", "", "");
    EXPECT_EQ(mapping.kind, AddressKind::SRT);
    EXPECT_EQ(mapping.outputType, "ffmpeg_mpegts_muxer");
    EXPECT_EQ(mapping.key, "");
    EXPECT_FALSE(mapping.useAuth);
    EXPECT_EQ(mapping.password, "");
}

TEST(MapDestination, InvalidAddressesGetNoHostTypesAndARefusal) {
    for (const char* url : {"", "https://h/whip", "rtmpx://h/app"}) {
        const DestinationMapping mapping = mapDestination(url, "k", "p");
        EXPECT_EQ(mapping.kind, AddressKind::Invalid) << url;
        EXPECT_EQ(mapping.outputType, "") << url;
        EXPECT_EQ(mapping.serviceType, "") << url;
        EXPECT_FALSE(mapping.useAuth) << url;
        EXPECT_EQ(mapping.error,
                  QString::fromUtf8("La dirección debe empezar por rtmp://, rtmps:// o srt://."))
            << url;
    }
}
