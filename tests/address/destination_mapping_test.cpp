#include "address/destination_mapping.h"

#include <gtest/gtest.h>

#include <utility>

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

// The host recognises RIST by its scheme written exactly so, and encrypts only with a secret
// and a key size it reads from the address.
TEST(MapDestination, RistCarriesItsSecretInTheAddressTheHostGets) {
    const struct {
        const char* url;
        const char* secret;
        const char* server;
    } cases[] = {
        {" RIST://h:5000 ", "", "rist://h:5000"},
        {"rist://h:5000", "secreto", "rist://h:5000?secret=secreto&aes-type=128"},
        {"rist://h:5000/?cname=Uno", "secreto",
         "rist://h:5000?cname=Uno&secret=secreto&aes-type=128"},
        {"Rist://h:5000?aes-type=256", "secreto", "rist://h:5000?aes-type=256&secret=secreto"},
    };
    for (const auto& c : cases) {
        const DestinationMapping mapping = mapDestination(c.url, c.secret, "frase");
        EXPECT_EQ(mapping.kind, AddressKind::RIST) << c.url;
        EXPECT_EQ(mapping.outputType, "ffmpeg_mpegts_muxer") << c.url;
        EXPECT_EQ(mapping.serviceType, "rtmp_custom") << c.url;
        EXPECT_EQ(mapping.server, c.server) << c.url;
        EXPECT_EQ(mapping.key, c.secret) << c.url;
        EXPECT_FALSE(mapping.useAuth) << c.url;
    }
}

// Settings of an older version may hold what the editor refuses now: it never reaches the host.
TEST(MapDestination, AStoredAddressTheEditorRefusesIsRefusedAtStartWithItsText) {
    for (const auto& [url, secret] : {std::pair{" srt://h?streamid=x ", ""},
                                      {"rist://h:5000?bandwith=8000", "secreto"},
                                      {"rist://h:5000?aes-type=128", ""}}) {
        const DestinationMapping mapping = mapDestination(url, secret, "");
        EXPECT_EQ(mapping.kind, AddressKind::Invalid) << url;
        EXPECT_EQ(mapping.outputType, "") << url;
        EXPECT_EQ(QString::fromUtf8("Destino 1: ") + mapping.error,
                  validateDestinationAddress(QString::fromUtf8(url).trimmed(), 1, secret))
            << url;
    }
}

TEST(MapDestination, InvalidAddressesGetNoHostTypesAndARefusal) {
    for (const char* url : {"", "https://h/whip", "rtmpx://h/app"}) {
        const DestinationMapping mapping = mapDestination(url, "k", "p");
        EXPECT_EQ(mapping.kind, AddressKind::Invalid) << url;
        EXPECT_EQ(mapping.outputType, "") << url;
        EXPECT_EQ(mapping.serviceType, "") << url;
        EXPECT_FALSE(mapping.useAuth) << url;
        EXPECT_EQ(
            mapping.error,
            QString::fromUtf8("La dirección debe empezar por rtmp://, rtmps://, srt:// o rist://."))
            << url;
    }
}
