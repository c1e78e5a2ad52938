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
    EXPECT_EQ(classifyAddress(" RIST://h:1 "), AddressKind::RIST);
    EXPECT_EQ(classifyAddress("rist://h:1?aes-type=128"), AddressKind::RIST);
}

TEST(ClassifyAddress, AnythingElseIsInvalid) {
    for (const char* address : {"rtmp:/h/app", "rtmpx://h/app", "", "   ", "srt:/h", "rist:/h",
                                "h/rtmp://", "https://h/whip", "ftp://h"})
        EXPECT_EQ(classifyAddress(address), AddressKind::Invalid) << address;
}

TEST(AddressKindName, NamesEachKind) {
    EXPECT_EQ(addressKindName(AddressKind::RTMP), "RTMP");
    EXPECT_EQ(addressKindName(AddressKind::SRT), "SRT");
    EXPECT_EQ(addressKindName(AddressKind::RIST), "RIST");
    EXPECT_EQ(addressKindName(AddressKind::Invalid), "?");
}

TEST(ValidateDestinationAddress, AcceptsRtmpWithAPathAndSrtWithAPort) {
    EXPECT_EQ(validateDestinationAddress("rtmp://h/app", 1), "");
    EXPECT_EQ(validateDestinationAddress("rtmp://h/", 1), "");
    EXPECT_EQ(validateDestinationAddress("RTMPS://live.example:443/app", 1), "");
    EXPECT_EQ(validateDestinationAddress("srt://h:9000?passphrase=x&streamid=y", 1), "");
    EXPECT_EQ(validateDestinationAddress("srt://[::1]:9000", 1), "");
    EXPECT_EQ(validateDestinationAddress("srt://:9000?mode=listener", 1), "");
    // The host's SRT library refuses an address without a port, then crashes OBS at exit.
    for (const char* portless : {"srt://h", "srt://h:", "srt://h:x?streamid=y", "srt://[::1]"})
        EXPECT_EQ(validateDestinationAddress(portless, 2),
                  QString::fromUtf8("Destino 2: a la dirección SRT le falta el puerto, por "
                                    "ejemplo srt://servidor:9000."))
            << portless;
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
                          "RTMP (rtmp:// o rtmps://), SRT (srt://) y RIST (rist://).");
    EXPECT_EQ(validateDestinationAddress("https://h/whip", 1), webRtc);
    EXPECT_EQ(validateDestinationAddress("HTTP://h", 1), webRtc);
}

TEST(ValidateDestinationAddress, OtherAddressesMustStartWithAKnownScheme) {
    const QString wrongScheme = QString::fromUtf8(
        "Destino 1: la dirección debe empezar por rtmp://, rtmps://, srt:// o rist://.");
    EXPECT_EQ(validateDestinationAddress("ftp://h", 1), wrongScheme);
    EXPECT_EQ(validateDestinationAddress("rtmp:/h/app", 1), wrongScheme);
    EXPECT_EQ(validateDestinationAddress("", 1), wrongScheme);
}

TEST(ValidateDestinationAddress, PrefixesTheRowNumber) {
    EXPECT_TRUE(validateDestinationAddress("ftp://h", 2).startsWith("Destino 2: la "));
    EXPECT_TRUE(validateDestinationAddress("rtmp://h", 12).startsWith("Destino 12: a la "));
}

// What the host's RIST sender can use: the receiver's host and port, a secret from the key field
// (the key size in the address or AES-128), no log-in, its own recovery buffer.
TEST(ValidateDestinationAddress, RistAddressesTheHostCanSendTo) {
    const char* noPort =
        "a la dirección RIST le falta el servidor o el puerto, por ejemplo rist://servidor:puerto.";
    const char* listener = "rist://@… es la forma en que escucha un receptor. Para enviar, escribe "
                           "la dirección del receptor: rist://servidor:puerto.";
    const char* logIn = "OBS no puede iniciar sesión en un receptor RIST con usuario y contraseña: "
                        "quita username= y password= de la dirección.";
    const char* badSecret = "el secreto RIST no puede llevar espacios ni los signos & = ? # %.";
    const char* path = "la dirección RIST termina en el puerto: quita lo que va tras la «/».";
    const char* unknown = "%1= no es un parámetro RIST que OBS use: revisa cómo se escribe o "
                          "quítalo de la dirección.";
    const struct {
        const char* address;
        const char* secret;
        const char* message; // after "Destino 2: "; empty when accepted
        const char* name = "";
    } cases[] = {
        {"rist://h:5000", "", ""},
        {"RIST://[::1]:5000/", "", ""},
        {"rist://h:5000?cname=a&bandwidth=8000", "s3cr3t-.~!", ""},
        {"rist://h:5000?aes-type=256", "secreto", ""},
        {"rist://h", "", noPort},
        {"rist://h:", "", noPort},
        {"rist://h:70000", "", noPort},
        {"rist://[::1]", "", noPort},
        {"rist://:5000", "", noPort},
        {"rist://", "", noPort},
        {"rist://@h:5000", "", listener},
        {"rist://@:5000", "", listener},
        {"rist://h:5000?secret=s&aes-type=128", "",
         "el secreto va en su campo, que lo oculta y lo guarda protegido: quita secret= de la "
         "dirección."},
        {"rist://h:5000?username=u", "", logIn},
        {"rist://h:5000?password=p", "", logIn},
        {"rist://h:5000?buffer=1000", "",
         "OBS fija su propio búfer de recuperación y no hace caso de buffer=: quítalo de la "
         "dirección."},
        {"rist://h:5000?aes-type=192", "secreto", "aes-type solo admite 128 o 256."},
        {"rist://h:5000?aes-type=128", "", "aes-type cifra con el secreto: escríbelo en su campo."},
        {"rist://h:5000", "dos palabras", badSecret},
        {"rist://h:5000", "a&aes-type=256", badSecret},
        {"rist://h:5000", "100%", badSecret},
        // librist reads from "/" on as the host and takes the last of repeated names, without a
        // word to OBS.
        {"rist://h:5000//?cname=a", "", ""},
        // A multicast sender names the interface it sends from; librist reads miface= on every
        // line we ship, and a saved destination that holds it streamed before.
        {"rist://239.1.1.1:5000?miface=eth0", "", ""},
        {"rist://h:5000/x", "", path},
        {"rist://h:5000?bandwith=8000", "secreto", unknown, "bandwith"},
        {"rist://h:5000?aes-typ=256", "secreto", unknown, "aes-typ"},
        {"rist://h:5000?BANDWIDTH=1", "", unknown, "BANDWIDTH"},
        {"rist://h:5000??cname=a", "", unknown, "?cname"},
        {"rist://h:5000?cname=a&weight=1&cname=b", "secreto",
         "%1= aparece más de una vez en la dirección: déjalo una sola vez.", "cname"},
    };
    for (const auto& c : cases) {
        // Only a message that names a parameter has a place for it.
        const QString message =
            *c.name ? QString::fromUtf8(c.message).arg(c.name) : QString::fromUtf8(c.message);
        const QString expected =
            *c.message ? QString::fromUtf8("Destino 2: ") + message : QString();
        EXPECT_EQ(validateDestinationAddress(QString::fromUtf8(c.address), 2,
                                             QString::fromUtf8(c.secret)),
                  expected)
            << c.address;
    }
    // The key of the other kinds is theirs to judge.
    EXPECT_EQ(validateDestinationAddress("srt://h:1", 2, "dos palabras"), "");
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
    EXPECT_EQ(maskAddressQueries("RTMPS://h/app?k=1 SRT://h:1?p=2 RIST://h:2?username=u"),
              QString::fromUtf8("RTMPS://h/app?… SRT://h:1?… RIST://h:2?…"));
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

    const AddressPresentation rist = addressPresentation(AddressKind::RIST);
    EXPECT_TRUE(rist.hint.startsWith("Tipo detectado: RIST. OBS no recibe respuesta"))
        << rist.hint.toStdString();
    EXPECT_EQ(rist.keyPlaceholder, "Secreto RIST (opcional; AES-128, o 256 con ?aes-type=256)");
    EXPECT_FALSE(rist.showPassphrase);

    const AddressPresentation invalid = addressPresentation(AddressKind::Invalid);
    EXPECT_EQ(invalid.hint,
              QString::fromUtf8(
                  "Escribe una dirección que empiece por rtmp://, rtmps://, srt:// o rist://"));
    EXPECT_EQ(invalid.keyPlaceholder, "Clave");
    EXPECT_FALSE(invalid.showPassphrase);

    EXPECT_EQ(addressFieldPlaceholder(), "rtmp://servidor/aplicacion   o   srt://servidor:puerto");
    EXPECT_EQ(passphrasePlaceholder(), QString::fromUtf8("Contraseña SRT (opcional)"));
}

TEST(RtmpsAddressNote, OnlyAnRtmpsServerGivenByItsIpAddress) {
    const struct {
        const char* address;
        bool noted;
    } cases[] = {
        {"rtmps://127.0.0.1:1936/live", true},   {"RTMPS://10.0.0.2/live?k=1", true},
        {"rtmps://[::1]:443/live", true},        {"rtmps://[2001:db8::5]/app", true},
        {"rtmps://user@192.168.1.9/live", true}, {"rtmps://localhost:1936/live", false},
        {"rtmps://live.example.com/app", false}, {"rtmps://1.example/live", false},
        {"rtmp://127.0.0.1/live", false},        {"srt://127.0.0.1:9000", false},
    };
    for (const auto& c : cases) {
        const QString note = rtmpsAddressNote(QString::fromLatin1(c.address));
        EXPECT_EQ(!note.isEmpty(), c.noted) << c.address;
        EXPECT_EQ(note.contains("nombre del servidor"), c.noted) << note.toStdString();
    }
}
