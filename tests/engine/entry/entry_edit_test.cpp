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
