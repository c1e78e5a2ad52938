// An edit laid over an entry that someone else changed meanwhile, beyond what the remote
// control test shows with the real editor: fields that go together stay together, and a change
// to a destination removed meanwhile is lost, and said so.

#include "engine/entry/entry_edit.h"

#include <gtest/gtest.h>

using namespace relaycast;

TEST(EntryEdit, SizeAndEncoderGoWholeAndAChangedDestinationRemovedMeanwhileStaysRemoved) {
    EntryConfig base;
    base.ancho = 640;
    base.alto = 360;
    base.ajustesCodificador = QStringLiteral(R"({"bitrate":4000,"preset":"veryfast"})");
    base.destinos = {DestConfig{"d1", "rtmp://h/live", "k1"},
                     DestConfig{"d2", "rtmp://h/live", "k2"}};
    EntryConfig now = base;
    now.ancho = 1280, now.alto = 720;
    now.codificador = "otro", now.ajustesCodificador.clear();
    now.destinos.removeLast();
    EntryEdit edit{base, base};
    edit.wanted.ancho = 1080;
    edit.wanted.ajustesCodificador = R"({"bitrate":4000,"preset":"slow"})";
    edit.wanted.destinos[1].clave = "k2b";

    EntryConfig expected = now;
    expected.ancho = 1080, expected.alto = 360; // its own height, not the one set meanwhile
    QStringList lost;
    EXPECT_EQ(layEditOver(now, edit, &lost), expected);
    EXPECT_EQ(lost, QStringList{"d2"});
}

TEST(EntryEdit, ARunningDestinationRestartsAloneWhenItsEncodeAudioOrDelayChanges) {
    EntryConfig before;
    before.videoKbps = 6000;
    before.destinos = {DestConfig{"plain", "rtmp://h/a", "k"},
                       DestConfig{"capped", "rtmp://h/b", "k", {}, {3000}},
                       DestConfig{"high", "rtmp://h/c", "k", {}, {9000}},
                       DestConfig{"stopped", "rtmp://h/d", "k"}};
    struct Case {
        const char* what;
        std::function<void(EntryConfig&)> change;
        QStringList expected;
    } cases[] = {
        {"nothing", [](EntryConfig&) {}, {}},
        {"a cap below the bitrate, a track, a delay, a size",
         [](EntryConfig& e) {
             e.destinos[0].envio.videoKbpsMax = 2000;
             e.destinos[1].envio.pistaAudio = 2;
             e.destinos[2].envio.retrasoSegs = 30;
             e.destinos[3].envio.ancho = 1280, e.destinos[3].envio.alto = 720;
         },
         {"plain", "capped", "high"}},
        {"a cap that stays above the bitrate, the picture's own size",
         [](EntryConfig& e) {
             e.destinos[0].envio.videoKbpsMax = 7000;
             e.destinos[2].envio = {8000, 1920, 1080};
         },
         {}},
        {"the bitrate lowered under a cap: that one joins the entry's encoder",
         [](EntryConfig& e) { e.videoKbps = 2500; },
         {"capped"}},
        {"the bitrate raised over a cap: that one leaves it",
         [](EntryConfig& e) { e.videoKbps = 9500; },
         {"high"}},
        {"an address changed stops the entry instead",
         [](EntryConfig& e) {
             e.destinos[1].url = "rtmp://h/other";
             e.destinos[1].envio.pistaAudio = 3;
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryConfig after = before;
        c.change(after);
        EXPECT_EQ(destinationsToRestart(before, after, 1920, 1080,
                                        [](const QString& id) { return id != "stopped"; }),
                  c.expected);
    }
}

TEST(EntryEdit, ARelayChangedMeanwhileKeepsWhatTheCallerDidNotChange) {
    EntryConfig base;
    base.relevo.entrada = QStringLiteral("rtmp://rele/live");
    base.relevo.estadisticas = QStringLiteral("http://rele:8080/stat");
    base.relevo.secreto = QStringLiteral("secreto-de-prueba-0123");
    base.relevo.escrita = QStringLiteral("d0");
    struct Case {
        const char* what;
        std::function<void(RelayConfig&)> meanwhile; // a remote request, the dialog open
        std::function<void(RelayConfig&)> caller;    // the editor's OK
    } cases[] = {
        {"the page moved; the files written",
         [](RelayConfig& r) { r.estadisticas = QStringLiteral("http://rele:9090/stat"); },
         [](RelayConfig& r) { r.escrita = QStringLiteral("d1"); }},
        {"the relay moved; the allowed address typed",
         [](RelayConfig& r) { r.entrada = QStringLiteral("rtmp://rele-nuevo/live"); },
         [](RelayConfig& r) { r.permitirDesde = QStringLiteral("10.0.0.1"); }},
    };
    for (const Case& c : cases) {
        EntryConfig now = base;
        c.meanwhile(now.relevo);
        EntryEdit edit{base, base};
        c.caller(edit.wanted.relevo);
        EntryConfig expected = now;
        c.caller(expected.relevo);
        const auto fields = [](const RelayConfig& r) {
            return QStringList{r.entrada, r.estadisticas, r.permitirDesde, r.escrita}
                .join(' ')
                .toStdString();
        };
        EXPECT_EQ(fields(layEditOver(now, edit).relevo), fields(expected.relevo)) << c.what;
    }
}
