#include "address/address.h"

#include <gtest/gtest.h>

using namespace relaycast;

// The test process starts no host, so uiText returns the Spanish texts.

TEST(ClassifyAddress, RecognisesSchemesIgnoringCaseAndSurroundingSpaces) {
    EXPECT_EQ(classifyAddress("rtmp://h/app"), AddressKind::RTMP);
    EXPECT_EQ(classifyAddress("  RTMPS://h/app  "), AddressKind::RTMP);
    EXPECT_EQ(classifyAddress("\trtmps://h"), AddressKind::RTMP);
    EXPECT_EQ(classifyAddress("SRT://h:1"), AddressKind::SRT);
    EXPECT_EQ(classifyAddress(" srt://h:1?streamid=x "), AddressKind::SRT);
}

TEST(ClassifyAddress, AnythingElseIsInvalid) {
    for (const char* address : {"rtmp:/h/app", "rtmpx://h/app", "", "   ", "srt:/h", "h/rtmp://",
                                "https://h/whip", "ftp://h"})
        EXPECT_EQ(classifyAddress(address), AddressKind::Invalid) << address;
}

TEST(AddressKindName, NamesEachKind) {
    EXPECT_EQ(addressKindName(AddressKind::RTMP), "RTMP");
    EXPECT_EQ(addressKindName(AddressKind::SRT), "SRT");
    EXPECT_EQ(addressKindName(AddressKind::Invalid), "?");
}

TEST(ValidateDestinationAddress, AcceptsRtmpWithAPathAndAnySrt) {
    EXPECT_EQ(validateDestinationAddress("rtmp://h/app", 1), "");
    EXPECT_EQ(validateDestinationAddress("rtmp://h/", 1), "");
    EXPECT_EQ(validateDestinationAddress("RTMPS://live.example:443/app", 1), "");
    EXPECT_EQ(validateDestinationAddress("srt://h", 1), "");
    EXPECT_EQ(validateDestinationAddress("srt://h:9000?passphrase=x&streamid=y", 1), "");
}

TEST(ValidateDestinationAddress, RtmpWithoutAFinalPartIsRefused) {
    const QString missingPath = QString::fromUtf8("Destino 1: a la dirección RTMP le falta la "
                                                  "parte final, por ejemplo rtmp://servidor/live.");
    EXPECT_EQ(validateDestinationAddress("rtmp://h", 1), missingPath);
    EXPECT_EQ(validateDestinationAddress("rtmps://h:443", 1), missingPath);
}

TEST(ValidateDestinationAddress, WebAddressesGetTheWebRtcMessage) {
    const QString webRtc =
        QString::fromUtf8("Destino 1: WebRTC llegará en una próxima versión. Por ahora se admiten "
                          "RTMP (rtmp:// o rtmps://) y SRT (srt://).");
    EXPECT_EQ(validateDestinationAddress("https://h/whip", 1), webRtc);
    EXPECT_EQ(validateDestinationAddress("HTTP://h", 1), webRtc);
}

TEST(ValidateDestinationAddress, OtherAddressesMustStartWithAKnownScheme) {
    const QString wrongScheme =
        QString::fromUtf8("Destino 1: la dirección debe empezar por rtmp://, rtmps:// o srt://.");
    EXPECT_EQ(validateDestinationAddress("ftp://h", 1), wrongScheme);
    EXPECT_EQ(validateDestinationAddress("rtmp:/h/app", 1), wrongScheme);
    EXPECT_EQ(validateDestinationAddress("", 1), wrongScheme);
}

TEST(ValidateDestinationAddress, PrefixesTheRowNumber) {
    EXPECT_TRUE(validateDestinationAddress("ftp://h", 2).startsWith("Destino 2: la "));
    EXPECT_TRUE(validateDestinationAddress("rtmp://h", 12).startsWith("Destino 12: a la "));
}

TEST(MaskAddressQueries, LeavesTextsWithoutQueriesAlone) {
    for (const char* text : {"", "No se pudo emitir: rtmp://h/app/clave",
                             "¿Qué? srt://h:9000 y más", "https://h/x?token=1"})
        EXPECT_EQ(maskAddressQueries(QString::fromUtf8(text)), QString::fromUtf8(text));
}

TEST(MaskAddressQueries, MasksEveryQueryAndKeepsTheWordsBetween) {
    const QString text = QString::fromUtf8(
        "Falló rtmp://a.example/live?key=secreta y también srt://b.example:9000?passphrase=p"
        "&streamid=s al mismo tiempo.");
    EXPECT_EQ(maskAddressQueries(text),
              QString::fromUtf8("Falló rtmp://a.example/live?… y también srt://b.example:9000?… "
                                "al mismo tiempo."));
}

TEST(MaskAddressQueries, SchemesAreMatchedIgnoringCase) {
    EXPECT_EQ(maskAddressQueries("RTMPS://h/app?k=1 SRT://h:1?p=2"),
              QString::fromUtf8("RTMPS://h/app?… SRT://h:1?…"));
}

TEST(MaskAddressQueries, AQueryEndsAtSpaceGuillemetOrQuote) {
    EXPECT_EQ(maskAddressQueries(QString::fromUtf8("«srt://h:1?p=2» sigue")),
              QString::fromUtf8("«srt://h:1?…» sigue"));
    EXPECT_EQ(maskAddressQueries("\"srt://h:1?p=2\" sigue"),
              QString::fromUtf8("\"srt://h:1?…\" sigue"));
    EXPECT_EQ(maskAddressQueries("'rtmp://h/a?k=1' sigue"),
              QString::fromUtf8("'rtmp://h/a?…' sigue"));
    EXPECT_EQ(maskAddressQueries("rtmp://h/a?k=1\tsigue"),
              QString::fromUtf8("rtmp://h/a?…\tsigue"));
    // Everything after the first "?" belongs to the query, further question marks included.
    EXPECT_EQ(maskAddressQueries("srt://h:1?a=1?b=2"), QString::fromUtf8("srt://h:1?…"));
}

TEST(AddressPresentation, FollowsTheKind) {
    const AddressPresentation rtmp = addressPresentation(AddressKind::RTMP);
    EXPECT_EQ(rtmp.hint, "Tipo detectado: RTMP");
    EXPECT_EQ(rtmp.keyPlaceholder, QString::fromUtf8("Clave de emisión"));
    EXPECT_FALSE(rtmp.showPassphrase);

    const AddressPresentation srt = addressPresentation(AddressKind::SRT);
    EXPECT_EQ(srt.hint, "Tipo detectado: SRT");
    EXPECT_EQ(srt.keyPlaceholder, "Stream ID (opcional)");
    EXPECT_TRUE(srt.showPassphrase);

    const AddressPresentation invalid = addressPresentation(AddressKind::Invalid);
    EXPECT_EQ(
        invalid.hint,
        QString::fromUtf8("Escribe una dirección que empiece por rtmp://, rtmps:// o srt://"));
    EXPECT_EQ(invalid.keyPlaceholder, "Clave");
    EXPECT_FALSE(invalid.showPassphrase);

    EXPECT_EQ(addressFieldPlaceholder(), "rtmp://servidor/aplicacion   o   srt://servidor:puerto");
    EXPECT_EQ(passphrasePlaceholder(), QString::fromUtf8("Contraseña SRT (opcional)"));
}
