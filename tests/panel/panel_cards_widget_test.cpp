// The panel's fixed layout and its cards, built from the configuration and the host's sources,
// and the notice line's timing.

#include "editor/input_widgets.h"
#include "engine/recording/recording_id.h"
#include "panel/preview_widget.h"
#include "panel/status_line.h"
#include "support/icon_text.h"
#include "support/message_box_driver.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// The cards on show: new cards of a visible panel appear once the event loop has run.
QList<QWidget*> cardsOf(const SalidasPanel& panel) {
    QCoreApplication::processEvents();
    QList<QWidget*> shown;
    for (QWidget* child :
         panel.cardList()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isHidden())
            shown << child;
    }
    return shown;
}

// The labels of a destination's row other than its status line: the kind and the address.
QLabel* kindLabelOf(const SalidasPanel& panel, const QString& destinationId) {
    QWidget* row = panel.destinationStatusLabel(destinationId)->parentWidget();
    for (QLabel* label : row->findChildren<QLabel*>()) {
        if (!dynamic_cast<ElidedLabel*>(label))
            return label;
    }
    return nullptr;
}

ElidedLabel* addressLabelOf(const SalidasPanel& panel, const QString& destinationId) {
    ElidedLabel* status = panel.destinationStatusLabel(destinationId);
    for (QLabel* label : status->parentWidget()->findChildren<QLabel*>()) {
        auto* elided = dynamic_cast<ElidedLabel*>(label);
        if (elided && elided != status)
            return elided;
    }
    return nullptr;
}

ElidedLabel* titleOf(const SalidasPanel& panel, const QString& entryId) {
    // ElidedLabel has no meta-object of its own: find labels, then tell them apart.
    QWidget* card = panel.switchRow(entryId)->parentWidget();
    for (QLabel* label : card->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (auto* elided = dynamic_cast<ElidedLabel*>(label))
            return elided;
    }
    return nullptr;
}

EntryConfig entry(const QString& id, const QString& source, const QList<DestConfig>& destinations) {
    EntryConfig e = entrySending(source, 640, 360, destinations);
    e.id = id;
    e.nombre.clear();
    return e;
}

TEST(PanelCards, AnEmptyCollectionShowsOnlyTheGreyedEmptyStateAndTheAddButton) {
    PanelWorld world;
    auto panel = world.openPanel();
    EXPECT_EQ(panel->sizeHint(), QSize(340, 360));

    const QList<QWidget*> cards = cardsOf(*panel);
    ASSERT_EQ(cards.size(), 1);
    auto* empty = qobject_cast<QLabel*>(cards.front());
    ASSERT_NE(empty, nullptr);
    EXPECT_FALSE(empty->isEnabled());
    EXPECT_TRUE(empty->wordWrap());
    // The sentence names the add button as it reads, without its sign.
    EXPECT_EQ(empty->text(),
              QString::fromUtf8("Aún no hay entradas.\n\nPulsa «Añadir entrada», elige una "
                                "escena o una fuente y escribe los destinos a los que quieres "
                                "enviarla (RTMP, SRT o RIST)."));

    QList<QPushButton*> visibleButtons;
    for (QPushButton* button : panel->findChildren<QPushButton*>()) {
        if (button->isVisible())
            visibleButtons << button;
    }
    ASSERT_EQ(visibleButtons.size(), 1);
    EXPECT_EQ(shownText(visibleButtons.front()), QString::fromUtf8("＋ Añadir entrada"));
    EXPECT_EQ(visibleButtons.front()->toolTip(),
              QStringLiteral("Elige una fuente o una escena de OBS y los destinos a los que "
                             "enviarla"));
    EXPECT_TRUE(panel->updateBanner()->isHidden());
    EXPECT_TRUE(panel->noticeLine()->isHidden());

    auto* scroll = panel->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(scroll->widgetResizable());
    EXPECT_EQ(scroll->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(scroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(PanelCards, CardsShowTitlesAddressesAndRowsAsConfigured) {
    OBSSceneAutoRelease scene = createScene("tarjetas-escena");
    OBSSourceAutoRelease colour = createColorSource("tarjetas-color", kOpaqueGreen, 320, 180);
    PanelWorld world;
    EntryConfig named = entry(
        "e1", QStringLiteral("tarjetas-escena"),
        {destination("d1", QStringLiteral("  srt://127.0.0.1:9000?passphrase="
                                          "secreto&latency=200  ")),
         destination("d2", QStringLiteral(" rtmp://127.0.0.1/live "), QStringLiteral("clave")),
         destination("d3", QStringLiteral("http://127.0.0.1/x"))});
    named.nombre = QStringLiteral("Mi salida");
    named.destinos[1].envio = {0, 0, 0, 2, 30};
    EntryConfig scenePicked = entry("e2", QStringLiteral("tarjetas-escena"), {});
    EntryConfig sourcePicked = entry("e3", QStringLiteral("tarjetas-color"), {});
    EntryConfig deletedSource = entry("e4", QStringLiteral("no-esta"), {});
    EntryConfig following = entry("e5", QString(), {});
    following.seguirObs = true;
    EntryConfig namedFollowing = following;
    namedFollowing.id = QStringLiteral("e6");
    namedFollowing.nombre = QStringLiteral("Sigue");
    world.entries() << named << scenePicked << sourcePicked << deletedSource << following
                    << namedFollowing;
    auto panel = world.openPanel();
    EXPECT_EQ(cardsOf(*panel).size(), 6);

    const auto expectTitle = [&](const char* id, const QString& text, const QString& tip) {
        ElidedLabel* title = titleOf(*panel, QString::fromLatin1(id));
        ASSERT_NE(title, nullptr) << id;
        EXPECT_EQ(shownFullText(title), text) << id;
        EXPECT_EQ(title->toolTip(), tip) << id;
        EXPECT_TRUE(title->font().bold()) << id;
    };
    expectTitle("e1", QStringLiteral("Mi salida"), QStringLiteral("tarjetas-escena"));
    expectTitle("e2", QString::fromUtf8("🎬 Escena: tarjetas-escena"),
                QStringLiteral("tarjetas-escena"));
    expectTitle("e3", QString::fromUtf8("🎥 Fuente: tarjetas-color"),
                QStringLiteral("tarjetas-color"));
    expectTitle("e4", QString::fromUtf8("🎥 Fuente: no-esta"), QStringLiteral("no-esta"));
    expectTitle("e5", QString::fromUtf8("↪ Sigue la escena de OBS"),
                QStringLiteral("Emite la escena que OBS tenga en directo, con las equivalencias "
                               "que hayas definido"));
    expectTitle("e6", QStringLiteral("Sigue"), QString::fromUtf8("↪ Sigue la escena de OBS"));

    // Keys in a query never show: cut before "?" with "?…", text and tooltip alike.
    EXPECT_EQ(kindLabelOf(*panel, "d1")->text(), QStringLiteral("SRT"));
    EXPECT_EQ(addressLabelOf(*panel, "d1")->fullText, QString::fromUtf8("srt://127.0.0.1:9000?…"));
    EXPECT_EQ(addressLabelOf(*panel, "d1")->toolTip(), QString::fromUtf8("srt://127.0.0.1:9000?…"));
    EXPECT_EQ(kindLabelOf(*panel, "d2")->text(), QStringLiteral("RTMP"));
    EXPECT_EQ(addressLabelOf(*panel, "d2")->fullText, QStringLiteral("rtmp://127.0.0.1/live"));
    EXPECT_EQ(kindLabelOf(*panel, "d3")->text(), QStringLiteral("?"));
    EXPECT_TRUE(kindLabelOf(*panel, "d1")->font().bold());
    // What a destination gets of its own, greyed under its status; nothing for the others.
    const auto linesOf = [&](const char* id) {
        QStringList lines;
        for (QLabel* label :
             panel->destinationStatusLabel(id)->parentWidget()->findChildren<QLabel*>())
            if (auto* elided = dynamic_cast<ElidedLabel*>(label); elided && !elided->isEnabled())
                lines << elided->fullText;
        return lines;
    };
    EXPECT_EQ(linesOf("d2"), QStringList{QString::fromUtf8("30 s de retraso · Pista 2")});
    EXPECT_EQ(linesOf("d1"), QStringList{});

    for (const char* id : {"d1", "d2", "d3"}) {
        EXPECT_EQ(statusTextOf(*panel, id), QStringLiteral("Parado")) << id;
        QPushButton* button = panel->destinationButton(QString::fromLatin1(id));
        EXPECT_EQ(shownText(button), QString::fromUtf8("▶ Emitir"));
        EXPECT_EQ(button->styleSheet(), QString::fromUtf8(kIdleButtonStyle));
        EXPECT_GE(button->width(), 92);
        EXPECT_GE(button->height(), 36);
    }

    // Every card ends with its recording row, read like a destination's.
    for (const char* id : {"e1", "e2"}) {
        const QString recording = recordingIdOf(QString::fromLatin1(id));
        ASSERT_NE(panel->destinationStatusLabel(recording), nullptr) << id;
        EXPECT_EQ(kindLabelOf(*panel, recording)->text(), QStringLiteral("REC"));
        EXPECT_TRUE(kindLabelOf(*panel, recording)->font().bold());
        EXPECT_EQ(addressLabelOf(*panel, recording), panel->recordingPlaceLabel(id));
        EXPECT_EQ(addressLabelOf(*panel, recording)->fullText,
                  QStringLiteral("Grabar a un archivo"));
        EXPECT_EQ(statusTextOf(*panel, recording), QStringLiteral("Parado"));
        QPushButton* button = panel->destinationButton(recording);
        EXPECT_EQ(shownText(button), QString::fromUtf8("▶ Grabar"));
        EXPECT_EQ(button->styleSheet(), QString::fromUtf8(kIdleButtonStyle));
        EXPECT_GE(button->height(), 36);
    }
    QLayout* rows = panel->switchRow("e1")->parentWidget()->layout();
    EXPECT_EQ(rows->indexOf(panel->destinationStatusLabel(recordingIdOf("e1"))->parentWidget()),
              rows->count() - 1);
    EXPECT_LT(rows->indexOf(panel->destinationStatusLabel("d3")->parentWidget()),
              rows->count() - 1);

    // An entry without destinations has its line, and its switch row and preview exist hidden.
    QWidget* card = panel->switchRow("e2")->parentWidget();
    QStringList lines;
    for (QLabel* label : card->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!dynamic_cast<ElidedLabel*>(label) && !label->isHidden()) {
            lines << label->text();
            EXPECT_FALSE(label->isEnabled());
        }
    }
    EXPECT_EQ(lines,
              QStringList{QString::fromUtf8("Sin destinos. Pulsa «Editar» para añadir uno.")});
    EXPECT_TRUE(panel->switchRow("e2")->isHidden());
    ASSERT_NE(panel->previewWidget("e2"), nullptr);
    EXPECT_TRUE(panel->previewWidget("e2")->isHidden());
    EXPECT_EQ(panel->previewWidget("e2")->height(), 130);
    EXPECT_TRUE(panel->previewWidget("e2")->testAttribute(Qt::WA_NativeWindow));
    EXPECT_EQ(panel->previewWidget("e2")->paintEngine(), nullptr);

    // Header buttons: preview toggle, edit, delete, with their fixed texts and tooltips.
    QStringList texts;
    for (QToolButton* button : card->findChildren<QToolButton*>())
        texts << shownText(button);
    EXPECT_EQ(texts, (QStringList{QString::fromUtf8("👁"), QString::fromUtf8("✎ Editar"),
                                  QString::fromUtf8("🗑")}));
    EXPECT_TRUE(card->findChildren<QToolButton*>().front()->isCheckable());

    // The switch combo lists the host's scenes, then its input sources, by bare name.
    QComboBox* combo = panel->switchCombo("e2");
    const int sceneIndex = combo->findData(QStringLiteral("tarjetas-escena"));
    const int sourceIndex = combo->findData(QStringLiteral("tarjetas-color"));
    ASSERT_GE(sceneIndex, 0);
    ASSERT_GE(sourceIndex, 0);
    EXPECT_LT(sceneIndex, sourceIndex);
    EXPECT_EQ(shownItemText(combo, sceneIndex), QString::fromUtf8("🎬 tarjetas-escena"));
    EXPECT_EQ(shownItemText(combo, sourceIndex), QString::fromUtf8("🎥 tarjetas-color"));
}

TEST(PanelCards, ARebuildForAnotherCollectionKeepsPreviewTogglesAndClearsTheNotice) {
    PanelWorld world(QStringLiteral("Uno"));
    world.entries(QStringLiteral("Uno")) << entry("e1", QStringLiteral("x"), {});
    world.entries(QStringLiteral("Dos")) << entry("e2", QStringLiteral("y"), {});
    auto panel = world.openPanel(QStringLiteral("No se pudo leer el archivo."));
    EXPECT_EQ(panel->noticeLine()->text(), QStringLiteral("No se pudo leer el archivo."));
    EXPECT_EQ(panel->noticeLine()->styleSheet(), QStringLiteral("color: #e0524d;"));
    EXPECT_FALSE(panel->noticeLine()->isHidden());

    QToolButton* toggle =
        panel->switchRow("e1")->parentWidget()->findChildren<QToolButton*>().front();
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle->isChecked());
    // Not live: the preview stays hidden.
    EXPECT_TRUE(panel->previewWidget("e1")->isHidden());

    world.frontend.setCurrentSceneCollection(QStringLiteral("Dos"));
    panel->onCollectionChanged();
    EXPECT_TRUE(panel->noticeLine()->isHidden());
    EXPECT_EQ(panel->switchRow("e1"), nullptr);
    ASSERT_NE(panel->switchRow("e2"), nullptr);

    world.frontend.setCurrentSceneCollection(QStringLiteral("Uno"));
    panel->onCollectionChanged();
    ASSERT_NE(panel->switchRow("e1"), nullptr);
    EXPECT_TRUE(
        panel->switchRow("e1")->parentWidget()->findChildren<QToolButton*>().front()->isChecked());

    // A collection the store has never seen starts empty.
    world.frontend.setCurrentSceneCollection(QStringLiteral("Nueva"));
    panel->onCollectionChanged();
    EXPECT_TRUE(world.store.collections().contains(QStringLiteral("Nueva")));
    EXPECT_EQ(cardsOf(*panel).size(), 1);
}

TEST(PanelCards, InformationNoticesHideEightSecondsAfterTheNewestAndErrorsStay) {
    PanelWorld world;
    auto panel = world.openPanel();
    QLabel* notice = panel->noticeLine();

    panel->showNotice(QStringLiteral("primero"), false);
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->styleSheet(), QString());
    pumpFor(4s);
    panel->showNotice(QStringLiteral("segundo"), false);
    // The first one's timer fires in between: the newer notice stays.
    pumpFor(5s);
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->text(), QStringLiteral("segundo"));

    panel->showNotice(QStringLiteral("falla"), true);
    pumpFor(3500ms);
    EXPECT_FALSE(notice->isHidden()) << "an error outlives the information's timer";
    EXPECT_EQ(notice->styleSheet(), QStringLiteral("color: #e0524d;"));
    panel->showNotice(QString(), false);
    EXPECT_TRUE(notice->isHidden());
}

TEST(PanelCards, StateChangesAnnounceOnlyCutsRecoveriesAndLossesForGood) {
    PanelWorld world;
    auto panel = world.openPanel();
    QLabel* notice = panel->noticeLine();
    EntryConfig sourceOnly = entry("e1", QStringLiteral("Cámara"), {});
    const DestConfig dest =
        destination("d1", QStringLiteral(" srt://sala.example:9000?passphrase=x "));
    DestinationStatus status;

    // Stops by the user and failed first starts are left to the status line.
    status.state = DestinationState::Idle;
    panel->announceDestinationChange(sourceOnly, dest, 3, status);
    status.state = DestinationState::Failed;
    panel->announceDestinationChange(sourceOnly, dest, 1, status);
    status.state = DestinationState::Live;
    panel->announceDestinationChange(sourceOnly, dest, 1, status);
    EXPECT_TRUE(notice->isHidden());

    status.state = DestinationState::Failed;
    panel->announceDestinationChange(sourceOnly, dest, 3, status);
    EXPECT_EQ(shownText(notice),
              QString::fromUtf8("⛔ Se perdió definitivamente «Cámara» → sala.example: no se pudo "
                                "reconectar. Pulsa «Emitir» para reintentar."));
    EXPECT_EQ(notice->styleSheet(), QStringLiteral("color: #e0524d;"));
    status.state = DestinationState::Live;
    status.recoveryAfterSecs = -1;
    panel->announceDestinationChange(entry("e2", QString(), {}), dest, 3, status);
    EXPECT_EQ(shownText(notice),
              QString::fromUtf8("✔ «entrada» → sala.example recuperado tras 0 s de corte."));
    EXPECT_EQ(notice->styleSheet(), QString());

    // A recording that fails once started says so with its message, under the entry's name; a
    // start refused at once is told by whoever asked for it.
    world.entries() << sourceOnly;
    DestinationChange change{"e1", recordingIdOf("e1"), DestinationState::Idle, {}};
    change.status.state = DestinationState::Failed;
    change.status.message = QString::fromUtf8("La carpeta de grabación «/x» no existe.");
    panel->onDestinationChange(change);
    EXPECT_EQ(shownText(notice),
              QString::fromUtf8("✔ «entrada» → sala.example recuperado tras 0 s de corte."));
    change.previous = DestinationState::Live;
    change.status.message = QString::fromUtf8("La grabación se detuvo: disco lleno.");
    panel->onDestinationChange(change);
    EXPECT_EQ(shownText(notice), QString::fromUtf8("⛔ La grabación de «Cámara» falló: La "
                                                   "grabación se detuvo: disco lleno."));
    EXPECT_EQ(notice->styleSheet(), QStringLiteral("color: #e0524d;"));
    change.previous = DestinationState::Starting;
    change.status.message.clear();
    panel->onDestinationChange(change);
    EXPECT_EQ(shownText(notice), QString::fromUtf8("⛔ La grabación de «Cámara» falló: Error"));
    // Its stop is no news.
    panel->showNotice({}, false);
    change.previous = DestinationState::Live;
    change.status.state = DestinationState::Idle;
    panel->onDestinationChange(change);
    EXPECT_TRUE(notice->isHidden());
}

TEST(PanelCards, TheUpdateBannerShowsTheNewVersionUntilDismissed) {
    PanelWorld world;
    auto panel = world.openPanel();
    EXPECT_TRUE(panel->updateBanner()->isHidden());
    panel->showUpdateBanner(QStringLiteral("1.2"), QStringLiteral("https://example.invalid/d"));
    EXPECT_FALSE(panel->updateBanner()->isHidden());
    EXPECT_EQ(shownText(panel->updateBannerLabel()),
              QString::fromUtf8("⬆ Hay una versión nueva: 1.2 (tienes la %1).")
                  .arg(QStringLiteral(RELAYCAST_VERSION)));
    EXPECT_TRUE(panel->updateBannerLabel()->wordWrap());
    panel->rebuildCards();
    EXPECT_FALSE(panel->updateBanner()->isHidden());
    QToolButton* dismiss = panel->updateBanner()->findChild<QToolButton*>();
    EXPECT_EQ(shownText(dismiss), QString::fromUtf8("✕"));
    EXPECT_EQ(dismiss->toolTip(), QStringLiteral("Ocultar este aviso"));
    EXPECT_EQ(panel->updateBanner()->findChild<QPushButton*>()->text(),
              QStringLiteral("Descargar"));
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_TRUE(panel->updateBanner()->isHidden());
}

TEST(PanelCards, AFailedSaveIsAnnouncedAndTheDeletionStaysInEffect) {
    PanelWorld world;
    world.entries() << entry("e1", QStringLiteral("x"), {});
    // The settings file's folder is replaced by a file: nothing can be written there.
    ConfigStore blocked(world.dir.filePath(QStringLiteral("bloqueo/salidas.json")));
    QFile obstacle(world.dir.filePath(QStringLiteral("bloqueo")));
    ASSERT_TRUE(obstacle.open(QIODevice::WriteOnly));
    obstacle.close();
    blocked.entriesOf(QStringLiteral("Escenas")) << entry("e1", QStringLiteral("x"), {});
    EntryController controller(blocked);
    SalidasPanel panel(controller, QString());
    panel.show();
    whenMessageBoxOpens([](QMessageBox* box) {
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QString::fromUtf8("Sí, borrar"))
                button->click();
        }
    });
    QTest::mouseClick(panel.switchRow("e1")->parentWidget()->findChildren<QToolButton*>().back(),
                      Qt::LeftButton);
    EXPECT_TRUE(blocked.entriesOf(QStringLiteral("Escenas")).isEmpty());
    EXPECT_EQ(panel.switchRow("e1"), nullptr);
    EXPECT_TRUE(panel.noticeLine()->text().endsWith(QString::fromUtf8(
        ". Los cambios siguen funcionando, pero no se recordarán al cerrar OBS.")))
        << panel.noticeLine()->text().toStdString();
    EXPECT_EQ(panel.noticeLine()->styleSheet(), QStringLiteral("color: #e0524d;"));
}

TEST(PanelCards, ADestinationWhoseSavedKeyCannotBeOpenedAsksForItAndNeverStarts) {
    OBSSceneAutoRelease scene = createScene("escena-clave");
    PanelWorld world;
    DestConfig dest = destination("d1", "rtmp://127.0.0.1/live");
    dest.storedClave = {QStringLiteral("dpapi:AAAA"), false, {}};
    world.entries() << entry("e1", "escena-clave", {dest});
    auto panel = world.openPanel();
    EXPECT_EQ(statusTextOf(*panel, "d1"),
              QString::fromUtf8("⚠ Falta la clave: escríbela de nuevo con «✎ Editar»"));

    clickDestination(*panel, "d1");
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8("No se pudo emitir: La clave guardada de este destino no se puede "
                                "abrir en este equipo. Escríbela de nuevo con «Editar»."));
    EXPECT_FALSE(panel->isEntryLive("e1"));
    EXPECT_EQ(countPluginHostObjects(), 0);
}

TEST(PanelCards, AFailureInAHandlerBecomesANoticeAndNothingEscapesIntoTheHost) {
    PanelWorld world;
    world.entries() << entry("e1", "escena-fallo", {destination("d1", "rtmp://127.0.0.1/live")});
    auto panel = world.openPanel();
    const auto noticeAfter = [&](const std::function<void()>& handler) {
        EXPECT_NO_THROW(handler());
        return panel->noticeLine()->text();
    };

    world.frontend.failWith([] { throw 7; });
    EXPECT_EQ(noticeAfter([&] { panel->rebuildCards(); }),
              QString::fromUtf8("Error inesperado al actualizar el panel."));
    EXPECT_EQ(noticeAfter([&] { panel->deleteEntry("e1"); }),
              QString::fromUtf8("Error inesperado al borrar la entrada."));
    EXPECT_EQ(noticeAfter([&] { panel->onPreviewToggled("e1", true); }),
              QString::fromUtf8("Error inesperado al mostrar la vista previa."));

    world.frontend.failWith([] { throw std::runtime_error("sin escenas"); });
    EXPECT_EQ(noticeAfter([&] { panel->rebuildCards(); }),
              QString::fromUtf8("Error inesperado: sin escenas"));
    world.frontend.failWith(nullptr);
}

} // namespace
