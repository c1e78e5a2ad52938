// Destination rows of the entry editor (Spanish interface): the host's services, their servers and
// limits, the address kind presentation and the row's checks.
#include "address/address.h"
#include "editor/dest_row_widget.h"
#include "support/icon_text.h"

#include "address/host_services.h"
#include "editor/input_widgets.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace relaycast;

namespace {

// A row alone in a shown, active window, as the user sees it, offering the host's own services.
struct ShownRow {
    explicit ShownRow(const DestConfig& dest = {}) {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        row = new DestRowWidget(
            dest, window.get(), [this](DestRowWidget* r) { removed = r; }, hostServices());
        layout->addWidget(row);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    int indexOf(const QString& text) const { return row->serviceCombo()->findText(text); }

    // The user picks a service or a custom scheme from the menu.
    void choose(const QString& text) {
        const int index = indexOf(text);
        ASSERT_GE(index, 0) << text.toStdString();
        row->serviceCombo()->setCurrentIndex(index);
        Q_EMIT row->serviceCombo()->activated(index);
    }

    std::unique_ptr<QWidget> window;
    DestRowWidget* row = nullptr;
    DestRowWidget* removed = nullptr;
};

TEST(DestRowServices, OfferTheHostsOwnListAfterTheCustomSchemes) {
    ShownRow shown;
    const ServiceCatalog services = hostServices();
    ASSERT_GT(services.services.size(), 50) << services.source.toStdString();
    NoWheelComboBox* menu = shown.row->serviceCombo();
    QStringList texts;
    int serviceItems = 0;
    for (int i = 0; i < menu->count(); ++i) {
        texts.append(menu->itemText(i));
        serviceItems += menu->itemData(i, Qt::UserRole + 1).isValid() ? 1 : 0;
    }
    EXPECT_EQ(texts.mid(0, 4), QStringList({"Dirección propia…", "RTMP personalizado",
                                            "SRT personalizado", "RIST personalizado"}));
    EXPECT_EQ(serviceItems, services.services.size());
    for (const char* common : {"Twitch", "YouTube - RTMPS", "Facebook Live"})
        EXPECT_TRUE(texts.contains(common)) << common;
    EXPECT_EQ(menu->currentIndex(), 0);
    EXPECT_FALSE(shown.row->serverCombo()->isVisible());
    EXPECT_FALSE(shown.row->streamKeyLink()->isVisible());
}

TEST(DestRowServices, AChosenServiceFillsItsServerLinksItsKeyPageAndTypingFollowsTheAddress) {
    ShownRow shown({"", "rtmp://viejo/app", "mi-clave", ""});
    const StreamingService* twitch = hostServices().find("Twitch");
    ASSERT_NE(twitch, nullptr);
    shown.choose("Twitch");
    const int preferred = preferredServer(*twitch);
    EXPECT_EQ(shown.row->addressEdit()->text(), twitch->servers[preferred].url);
    EXPECT_EQ(QApplication::focusWidget(), shown.row->keyEdit());
    EXPECT_EQ(shown.row->keyEdit()->text(), "mi-clave");
    EXPECT_EQ(shown.row->serviceName(), "Twitch");
    EXPECT_EQ(shown.row->serviceToStore(), "Twitch");
    EXPECT_TRUE(shown.row->serverCombo()->isVisible());
    EXPECT_EQ(shown.row->serverCombo()->count(), twitch->servers.size());
    EXPECT_EQ(shown.row->serverCombo()->currentIndex(), preferred);
    EXPECT_TRUE(shown.row->streamKeyLink()->text().contains(twitch->streamKeyLink));

    const int other = (preferred + 1) % int(twitch->servers.size());
    shown.row->serverCombo()->setCurrentIndex(other);
    Q_EMIT shown.row->serverCombo()->activated(other);
    EXPECT_EQ(shown.row->addressEdit()->text(), twitch->servers[other].url);

    // Still the service's host: still the service, on no server of its list.
    shown.row->addressEdit()->setFocus();
    shown.row->addressEdit()->end(false);
    QTest::keyClicks(shown.row->addressEdit(), "x");
    EXPECT_EQ(shown.row->serviceName(), "Twitch");
    EXPECT_EQ(shown.row->serverCombo()->currentIndex(), -1);
    // Another host: an address of the user's own.
    shown.row->addressEdit()->setText("rtmp://mi-servidor.example/live");
    EXPECT_EQ(shown.row->serviceName(), "");
    EXPECT_EQ(shown.row->serviceCombo()->currentIndex(), 0);
    EXPECT_FALSE(shown.row->streamKeyLink()->isVisible());
    EXPECT_EQ(shown.row->hintLabel()->text(), "Tipo detectado: RTMP");
}

TEST(DestRowServices, CustomSrtShowsThePassphraseAndCustomRtmpHidesItAgain) {
    ShownRow shown;
    QLineEdit* passphrase = shown.row->passphraseEdit();
    EXPECT_FALSE(passphrase->isVisible());
    EXPECT_EQ(shown.row->hintLabel()->text(),
              "Escribe una dirección que empiece por rtmp://, rtmps://, srt:// o rist://");
    EXPECT_EQ(shown.row->keyEdit()->placeholderText(), "Clave");

    shown.choose("SRT personalizado");
    EXPECT_EQ(shown.row->addressEdit()->text(), "srt://");
    EXPECT_TRUE(passphrase->isVisible());
    EXPECT_EQ(passphrase->placeholderText(), "Contraseña SRT (opcional)");
    EXPECT_EQ(shown.row->hintLabel()->text(), "Tipo detectado: SRT");
    EXPECT_FALSE(shown.row->hintLabel()->isEnabled());
    EXPECT_EQ(shown.row->keyEdit()->placeholderText(), "Stream ID (opcional)");
    EXPECT_EQ(shown.row->serviceCombo()->currentText(), "SRT personalizado");

    QTest::keyClicks(passphrase, "frase-secreta");
    shown.choose("RTMP personalizado");
    EXPECT_EQ(shown.row->addressEdit()->text(), "rtmp://");
    EXPECT_FALSE(passphrase->isVisible());
    EXPECT_EQ(passphrase->text(), "frase-secreta");
    EXPECT_EQ(shown.row->keyEdit()->placeholderText(), "Clave de emisión");

    shown.row->addressEdit()->setText("rtmps://[::1]:443/live");
    EXPECT_EQ(shown.row->hintLabel()->text(),
              "Tipo detectado: RTMP. " + rtmpsAddressNote("rtmps://[::1]:443/live"));
}

TEST(DestRowServices, CustomRistTakesASecretAndIsCheckedAndMaskedLikeTheOthers) {
    ShownRow shown;
    shown.choose("RIST personalizado");
    EXPECT_EQ(shown.row->addressEdit()->text(), "rist://");
    EXPECT_TRUE(shown.row->hintLabel()->text().startsWith("Tipo detectado: RIST."));
    EXPECT_EQ(shown.row->keyEdit()->placeholderText(),
              "Secreto RIST (opcional; AES-128, o 256 con ?aes-type=256)");
    EXPECT_EQ(shown.row->keyEdit()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(shown.row->passphraseEdit()->isVisible());
    EXPECT_EQ(shown.row->validationMessage(1),
              "Destino 1: a la dirección RIST le falta el servidor o el puerto, por ejemplo "
              "rist://servidor:puerto.");

    // The secret is checked as the field holds it when saving.
    shown.row->addressEdit()->setText("rist://receptor:5000");
    QTest::keyClicks(shown.row->keyEdit(), "dos palabras");
    EXPECT_EQ(shown.row->validationMessage(1), "Destino 1: el secreto RIST no puede llevar "
                                               "espacios ni los signos & = ? # %.");
    shown.row->keyEdit()->setText("dos-palabras");
    EXPECT_EQ(shown.row->validationMessage(1), "");
    EXPECT_FALSE(shown.row->queryWarningLabel()->isVisible());
    // Its query is hidden and warned about like any other kind's.
    shown.row->addressEdit()->setText("rist://receptor:5000?cname=uno");
    EXPECT_TRUE(shown.row->queryWarningLabel()->isVisible());
    EXPECT_EQ(shown.row->addressEdit()->echoMode(), QLineEdit::Password);
    // A service's own server with a query of its own holds nothing of the user's.
    shown.row->addressEdit()->setText("rtmp://b.rtmp.youtube.com/live2?backup=1");
    EXPECT_EQ(shown.row->serviceName(), "YouTube - RTMPS");
    EXPECT_FALSE(shown.row->queryWarningLabel()->isVisible());
    EXPECT_EQ(shown.row->addressEdit()->echoMode(), QLineEdit::Normal);
}

TEST(DestRowServices, AStoredDestinationOpensWithItsServiceRememberedOrRecognised) {
    const struct {
        const char* url;
        const char* servicio;
        const char* shown;
    } cases[] = {
        {"rtmp://live-fra.twitch.tv/app", "", "Twitch"},
        {"rtmps://rtmp-api.facebook.com:443/rtmp", "", "Facebook Live"},
        {"RTMP://LIVE-FRA.twitch.tv/app/", "", "Twitch"},
        {"rtmp://propio.example/live", "Facebook Live", "Facebook Live"},
        {"rtmps://a.rtmps.youtube.com:443/live2", "YouTube / YouTube Gaming", "YouTube - RTMPS"},
        {"rtmp://propio.example/live", "", "Dirección propia…"},
        {"rtmp://", "", "Dirección propia…"},
        {"srt://", "", "Dirección propia…"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        DestConfig dest{"", c.url, "", ""};
        dest.servicio = c.servicio;
        const ShownRow shown(dest);
        EXPECT_EQ(shown.row->serviceCombo()->currentText(), c.shown);
        // Untouched, it stores what it was stored with: a service only recognised stays
        // unchosen (the user may have chosen an address of their own on purpose).
        EXPECT_EQ(shown.row->serviceToStore(), c.servicio);
    }
    // Chosen on purpose, an address of the user's own lets its service go.
    DestConfig twitch{"", "rtmp://live-fra.twitch.tv/app", "k", ""};
    twitch.servicio = "Twitch";
    ShownRow shown(twitch);
    shown.choose("Dirección propia…");
    EXPECT_EQ(shown.row->serviceToStore(), "");
    EXPECT_FALSE(shown.row->serverCombo()->isVisible());
    EXPECT_FALSE(shown.row->streamKeyLink()->isVisible());
}

TEST(DestRowServices, LimitsSetTheCapOnceChosenSayWhatAStoredOneNeedsAndNameRefusals) {
    int kbps = 8000;
    const auto sends = [&kbps](int keyint) {
        return [keyint, &kbps](const SendChoice& choice) {
            SentStream sent{1920, 1080, 30, kbps, "h264", keyint, "", "aac", 128};
            if (choice.videoKbpsMax > 0)
                sent.videoKbps = std::min(sent.videoKbps, choice.videoKbpsMax);
            return sent;
        };
    };
    ShownRow chosen;
    chosen.row->setSentStreamOf(sends(2));
    chosen.choose("Twitch");
    EXPECT_EQ(chosen.row->capSpin()->value(), 6000);
    EXPECT_TRUE(chosen.row->sendToggle()->isChecked());
    EXPECT_TRUE(chosen.row->serviceFitLabel()->text().contains("Ajustado a lo que acepta Twitch"));
    // Raised again on purpose, it stays raised and the row says what Twitch takes.
    chosen.row->capSpin()->setValue(7000);
    chosen.row->refreshServiceFit();
    EXPECT_EQ(chosen.row->capSpin()->value(), 7000);
    EXPECT_TRUE(chosen.row->serviceFitLabel()->text().contains("como máximo 6000 kbps"));
    // So does one raised on a choice that fitted at first, when the entry's bitrate goes up.
    kbps = 4000;
    ShownRow fitted;
    fitted.row->setSentStreamOf(sends(2));
    fitted.choose("Twitch");
    fitted.row->capSpin()->setValue(7000);
    kbps = 8000;
    fitted.row->refreshServiceFit();
    EXPECT_EQ(fitted.row->capSpin()->value(), 7000);

    // As stored: nothing changes by itself; what its start refuses is said.
    DestConfig twitch{"", "rtmp://live-fra.twitch.tv/app", "", ""};
    twitch.servicio = "Twitch";
    ShownRow stored(twitch);
    stored.row->setSentStreamOf(sends(0));
    EXPECT_EQ(stored.row->capSpin()->value(), 0);
    const QString said = stored.row->serviceFitLabel()->text();
    EXPECT_TRUE(said.contains("como máximo 6000 kbps")) << said.toStdString();
    EXPECT_TRUE(said.contains("Twitch pide un fotograma clave cada 2 s")) << said.toStdString();
    // Stored without its service, only recognised: no limit is checked, and the row says how.
    ShownRow recognised({"", "rtmp://live-fra.twitch.tv/app", "", ""});
    recognised.row->setSentStreamOf(sends(0));
    EXPECT_EQ(recognised.row->serviceFitLabel()->text(),
              "Es una dirección de Twitch: elígelo en la lista para que se apliquen sus límites.");
}

TEST(DestRow, ShowsStoredValuesMaskedAndPresentsASpacedUpperCaseSrtAddressAsSrt) {
    ShownRow shown({"d1", "  SRT://h:9000 ", "id-del-flujo", "frase"});
    EXPECT_EQ(shown.row->addressEdit()->text(), "  SRT://h:9000 ");
    EXPECT_EQ(shown.row->addressEdit()->placeholderText(),
              "rtmp://servidor/aplicacion   o   srt://servidor:puerto");
    EXPECT_EQ(shown.row->keyEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(shown.row->passphraseEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(shown.row->hintLabel()->text(), "Tipo detectado: SRT");
    EXPECT_TRUE(shown.row->passphraseEdit()->isVisible());
    EXPECT_EQ(shown.row->passphraseEdit()->text(), "frase");
    EXPECT_EQ(shown.row->validationMessage(1), "");

    shown.row->setSecretsVisible(true);
    EXPECT_EQ(shown.row->keyEdit()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(shown.row->passphraseEdit()->echoMode(), QLineEdit::Normal);
}

TEST(DestRow, ChecksItsTrimmedAddressUnderItsNumberAndAsksToBeRemoved) {
    ShownRow shown({"", " rtmp://h ", "", ""});
    EXPECT_EQ(shown.row->validationMessage(3),
              "Destino 3: a la dirección RTMP le falta la parte final, por ejemplo "
              "rtmp://servidor/live.");
    shown.row->addressEdit()->setText("rtmp://servidor/live");
    EXPECT_EQ(shown.row->validationMessage(3), "");

    EXPECT_EQ(test::shownText(shown.row->removeButton()), "✖");
    EXPECT_EQ(shown.row->removeButton()->toolTip(), "Quitar este destino");
    QTest::mouseClick(shown.row->removeButton(), Qt::LeftButton);
    EXPECT_EQ(shown.removed, shown.row);
}

} // namespace
