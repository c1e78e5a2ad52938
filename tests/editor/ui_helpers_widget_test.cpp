// The interface helpers on the real host (Spanish interface): host listings, the source caption,
// the message boxes, the address mask and the names of what a destination takes.
#include "editor/ui_helpers.h"

#include "editor/send_choice_text.h"

#include "support/fake_frontend.h"
#include "support/message_box_driver.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace relaycast;
using relaycast::test::FakeFrontend;

namespace {

TEST(MaskAddress, CutsAtTheFirstQuestionMarkAndTrims) {
    EXPECT_EQ(maskAddress("  srt://ingesta.ejemplo.net:9000?passphrase=secreta123&latency=200000 "),
              "srt://ingesta.ejemplo.net:9000?…");
    EXPECT_EQ(maskAddress("rtmp://a.example/live?key=1?otra=2"), "rtmp://a.example/live?…");
    EXPECT_EQ(maskAddress("\trtmp://127.0.0.1:1935/live  "), "rtmp://127.0.0.1:1935/live");
    EXPECT_EQ(maskAddress("rtmp://a.example/live?"), "rtmp://a.example/live?…");
    EXPECT_EQ(maskAddress("   "), "");
}

TEST(DestinationDisplayName, IsTheHostElseTheMaskedAddress) {
    EXPECT_EQ(destinationDisplayName(" rtmp://a.example:1935/live?key=1 "), "a.example");
    EXPECT_EQ(destinationDisplayName("srt://c.example:9000?streamid=x"), "c.example");
    EXPECT_EQ(destinationDisplayName("rist://@:5000?secret=s"), "rist://@:5000?…");
}

TEST(SendChoiceSummary, NamesOnlyWhatDiffersFromTheInputsOwnEncode) {
    EntryConfig entry;
    entry.videoKbps = 6000;
    const struct {
        SendChoice choice;
        const char* text;
    } cases[] = {
        {{}, ""},
        {{8000, 1920, 1080, 0, 0}, ""}, // a cap above the bitrate, the picture's own size
        {{3500, 1280, 720, 2, 30}, "720p · 3.5 Mbps · 30 s de retraso · Pista 2"},
        {{900, 1600, 900, 0, 0}, "1600x900 · 900 kbps"},
        {{0, 854, 480, 0, 0}, "480p"},
        {{0, 0, 0, 6, 0}, "Pista 6"},
    };
    for (const auto& c : cases) {
        DestConfig destination;
        destination.envio = c.choice;
        EXPECT_EQ(sendChoiceSummary(entry, destination, 1920, 1080), QString::fromUtf8(c.text))
            << c.text;
    }
}

TEST(DescribeSource, CaptionsScenesAsScenesAndEverythingElseAsSources) {
    OBSSceneAutoRelease scene = test::createScene("Escena del escenario");
    OBSSourceAutoRelease input = test::createColorSource("Cámara fija", test::kOpaqueRed, 64, 64);

    EXPECT_EQ(describeSource("Escena del escenario"), "🎬 Escena: Escena del escenario");
    EXPECT_EQ(describeSource("Cámara fija"), "🎥 Fuente: Cámara fija");
    EXPECT_EQ(describeSource("Nadie se llama así"), "🎥 Fuente: Nadie se llama así");
    obs_source_remove(obs_scene_get_source(scene));
    obs_source_remove(input);
}

// The names of `all` that are among `ours`, in the order of `all`.
QStringList onlyOurs(const QStringList& all, const QStringList& ours) {
    QStringList result;
    for (const QString& name : all) {
        if (ours.contains(name))
            result.append(name);
    }
    return result;
}

// Every name the host enumerates (obs_enum_sources), whatever its type, in the host's order.
QStringList hostEnumeration() {
    QStringList names;
    obs_enum_sources(
        [](void* param, obs_source_t* source) {
            static_cast<QStringList*>(param)->append(
                QString::fromUtf8(obs_source_get_name(source)));
            return true;
        },
        &names);
    return names;
}

TEST(ListInputSourceNames, ListsInputsInHostOrderButNoSceneNorGroup) {
    OBSSourceAutoRelease middle = test::createColorSource("Mitad", test::kOpaqueRed, 32, 32);
    OBSSourceAutoRelease first = test::createColorSource("Zócalo", test::kOpaqueBlue, 32, 32);
    OBSSceneAutoRelease scene = test::createScene("Escena con grupo");
    OBSSourceAutoRelease second = test::createColorSource("Anuncio", test::kOpaqueGreen, 32, 32);
    obs_sceneitem_t* group = obs_scene_add_group(scene, "Grupo de cámaras");
    obs_scene_add(obs_sceneitem_group_get_scene(group), second);
    OBSSourceAutoRelease unnamed = obs_source_create("color_source_v3", "", nullptr, nullptr);

    const QStringList inputs = {"Mitad", "Zócalo", "Anuncio"};
    const QStringList names = listInputSourceNames();
    // The host enumerates the group with its inputs; the list leaves it out.
    EXPECT_TRUE(hostEnumeration().contains("Grupo de cámaras"));
    EXPECT_EQ(onlyOurs(names, inputs + QStringList{"Escena con grupo", "Grupo de cámaras"}),
              onlyOurs(hostEnumeration(), inputs));
    EXPECT_EQ(onlyOurs(names, inputs).size(), 3);
    EXPECT_FALSE(names.contains(""));

    obs_source_remove(obs_scene_get_source(scene));
    for (obs_source_t* source : {middle.Get(), first.Get(), second.Get(), unnamed.Get()})
        obs_source_remove(source);
}

TEST(ListSceneNames, FollowsTheFrontEndOrderAndSkipsUnnamedScenes) {
    FakeFrontend frontend;
    OBSSceneAutoRelease zeta = test::createScene("Zeta");
    OBSSceneAutoRelease alfa = test::createScene("Alfa");
    OBSSceneAutoRelease media = test::createScene("Media");
    obs_scene_add_group(media, "Grupo suelto");
    OBSSourceAutoRelease input = test::createColorSource("Fondo", test::kOpaqueWhite, 32, 32);

    const QStringList ours = {"Zeta", "Alfa", "Media", "Grupo suelto", "Fondo"};
    EXPECT_EQ(onlyOurs(listSceneNames(), ours), QStringList({"Zeta", "Alfa", "Media"}));

    OBSSceneAutoRelease unnamed = obs_scene_create_private(nullptr);
    frontend.setScenes(
        {OBSSource(obs_scene_get_source(media)), OBSSource(obs_scene_get_source(unnamed)),
         OBSSource(obs_scene_get_source(zeta)), OBSSource(obs_scene_get_source(alfa))});
    EXPECT_EQ(listSceneNames(), QStringList({"Media", "Zeta", "Alfa"}));

    frontend.setScenes({});
    EXPECT_TRUE(listSceneNames().isEmpty());

    for (obs_scene_t* scene : {zeta.Get(), alfa.Get(), media.Get()})
        obs_source_remove(obs_scene_get_source(scene));
    obs_source_remove(input);
}

QStringList buttonTexts(const QMessageBox* box) {
    QStringList texts;
    for (const QAbstractButton* button : box->buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

QAbstractButton* buttonWithText(const QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

TEST(AskConfirmation, IsTrueOnlyWhenTheAcceptButtonIsClicked) {
    QWidget parent;
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        QMessageBox::ButtonRole acceptRole = QMessageBox::InvalidRole;
        QMessageBox::ButtonRole cancelRole = QMessageBox::InvalidRole;
    } seen;
    test::whenMessageBoxOpens([&](QMessageBox* box) {
        seen = {box->windowTitle(),
                box->text(),
                box->icon(),
                buttonTexts(box),
                box->buttonRole(buttonWithText(box, "Borrar")),
                box->buttonRole(buttonWithText(box, "Cancelar"))};
        QTest::mouseClick(buttonWithText(box, "Borrar"), Qt::LeftButton);
    });
    EXPECT_TRUE(askConfirmation(&parent, "Borrar entrada", "¿Borrar «Cámara»?", "Borrar"));
    EXPECT_EQ(seen.title, "Borrar entrada");
    EXPECT_EQ(seen.text, "¿Borrar «Cámara»?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QStringList({"Borrar", "Cancelar"}));
    EXPECT_EQ(seen.acceptRole, QMessageBox::AcceptRole);
    EXPECT_EQ(seen.cancelRole, QMessageBox::RejectRole);

    test::whenMessageBoxOpens([](QMessageBox* box) {
        QTest::mouseClick(buttonWithText(box, "Cancelar"), Qt::LeftButton);
    });
    EXPECT_FALSE(askConfirmation(&parent, "Borrar entrada", "¿Seguro?", "Borrar"));

    test::whenMessageBoxOpens([](QMessageBox* box) { box->close(); });
    EXPECT_FALSE(askConfirmation(&parent, "Borrar entrada", "¿Seguro?", "Borrar"));

    test::whenMessageBoxOpens([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_FALSE(askConfirmation(&parent, "Borrar entrada", "¿Seguro?", "Borrar"));
}

TEST(ShowWarning, ShowsTheTextUnderTheModuleTitleWithOneSpanishButton) {
    QWidget parent;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QMessageBox::ButtonRole role = QMessageBox::InvalidRole;
    bool modal = false;
    test::whenMessageBoxOpens([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = buttonTexts(box);
        role = box->buttonRole(box->buttons().value(0));
        modal = box->isModal();
        QTest::mouseClick(box->buttons().value(0), Qt::LeftButton);
    });
    showWarning(&parent, "La dirección no es válida.");
    EXPECT_EQ(title, "Relaycast");
    EXPECT_EQ(text, "La dirección no es válida.");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, QStringList({"Entendido"}));
    EXPECT_EQ(role, QMessageBox::AcceptRole);
    EXPECT_TRUE(modal);
}

} // namespace
