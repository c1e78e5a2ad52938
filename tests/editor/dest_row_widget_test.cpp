// Destination rows of the entry editor (Spanish interface): templates, the template reset,
// the address kind presentation and the row's checks.
#include "address/address.h"
#include "editor/dest_row_widget.h"
#include "support/icon_text.h"

#include "editor/input_widgets.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

using namespace relaycast;

namespace {

// A row alone in a shown, active window, as the user sees it.
struct ShownRow {
    explicit ShownRow(const DestConfig& dest = {}) {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        row = new DestRowWidget(dest, window.get(), [this](DestRowWidget* r) { removed = r; });
        layout->addWidget(row);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    int indexOf(const QString& text) const { return row->templateCombo()->findText(text); }

    // The user picks a template from the menu.
    void choose(const QString& text) {
        const int index = indexOf(text);
        ASSERT_GT(index, 0) << text.toStdString();
        row->templateCombo()->setCurrentIndex(index);
        Q_EMIT row->templateCombo()->activated(index);
    }

    std::unique_ptr<QWidget> window;
    DestRowWidget* row = nullptr;
    DestRowWidget* removed = nullptr;
};

TEST(DestRowTemplates, OfferThePlatformsAndEveryCustomSchemeBehindAPrompt) {
    ShownRow shown;
    QStringList texts;
    for (int i = 0; i < shown.row->templateCombo()->count(); ++i)
        texts.append(shown.row->templateCombo()->itemText(i));
    EXPECT_EQ(texts,
              QStringList({"Plantilla de destino…", "YouTube", "Twitch", "Facebook Live",
                           "RTMP personalizado", "SRT personalizado", "RIST personalizado"}));
    EXPECT_FALSE(shown.row->templateCombo()->itemData(0).isValid());
    EXPECT_EQ(shown.row->templateCombo()->itemData(1).toString(),
              "rtmp://a.rtmp.youtube.com/live2");
    EXPECT_EQ(shown.row->templateCombo()->itemData(2).toString(), "rtmp://live.twitch.tv/app");
    EXPECT_EQ(shown.row->templateCombo()->itemData(3).toString(),
              "rtmps://live-api-s.facebook.com:443/rtmp/");
    EXPECT_EQ(shown.row->templateCombo()->currentIndex(), 0);
}

TEST(DestRowTemplates, FillTheAddressMoveToTheKeyAndResetOnTheNextKeystroke) {
    ShownRow shown({"", "rtmp://viejo/app", "mi-clave", ""});
    shown.choose("YouTube");
    EXPECT_EQ(shown.row->addressEdit()->text(), "rtmp://a.rtmp.youtube.com/live2");
    EXPECT_EQ(QApplication::focusWidget(), shown.row->keyEdit());
    EXPECT_EQ(shown.row->keyEdit()->text(), "mi-clave");
    EXPECT_EQ(shown.row->templateCombo()->currentText(), "YouTube");
    EXPECT_EQ(shown.row->hintLabel()->text(), "Tipo detectado: RTMP");

    shown.row->addressEdit()->setFocus();
    shown.row->addressEdit()->end(false);
    QTest::keyClicks(shown.row->addressEdit(), "x");
    EXPECT_EQ(shown.row->addressEdit()->text(), "rtmp://a.rtmp.youtube.com/live2x");
    EXPECT_EQ(shown.row->templateCombo()->currentIndex(), 0);

    // Typing the template's address back by hand does not name the template again.
    QTest::keyClick(shown.row->addressEdit(), Qt::Key_Backspace);
    EXPECT_EQ(shown.row->templateCombo()->currentIndex(), 0);

    // Choosing the prompt leaves everything as it is.
    Q_EMIT shown.row->templateCombo()->activated(0);
    EXPECT_EQ(shown.row->addressEdit()->text(), "rtmp://a.rtmp.youtube.com/live2");
}

TEST(DestRowTemplates, CustomSrtShowsThePassphraseAndCustomRtmpHidesItAgain) {
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
    EXPECT_EQ(shown.row->templateCombo()->currentText(), "SRT personalizado");

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

TEST(DestRowTemplates, CustomRistTakesASecretAndIsCheckedAndMaskedLikeTheOthers) {
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
}

TEST(DestRowTemplates, AStoredPlatformAddressPreselectsItsTemplateButBareSchemesDoNot) {
    EXPECT_EQ(
        ShownRow({"", "rtmp://live.twitch.tv/app", "k", ""}).row->templateCombo()->currentText(),
        "Twitch");
    EXPECT_EQ(ShownRow({"", "rtmps://live-api-s.facebook.com:443/rtmp/", "", ""})
                  .row->templateCombo()
                  ->currentText(),
              "Facebook Live");
    EXPECT_EQ(ShownRow({"", "rtmp://", "", ""}).row->templateCombo()->currentIndex(), 0);
    EXPECT_EQ(ShownRow({"", "srt://", "", ""}).row->templateCombo()->currentIndex(), 0);
    EXPECT_EQ(ShownRow({"", "rist://", "", ""}).row->templateCombo()->currentIndex(), 0);
    // Exact text only: surrounding spaces or another letter case are not the template.
    EXPECT_EQ(
        ShownRow({"", " rtmp://live.twitch.tv/app", "", ""}).row->templateCombo()->currentIndex(),
        0);
    EXPECT_EQ(
        ShownRow({"", "RTMP://live.twitch.tv/app", "", ""}).row->templateCombo()->currentIndex(),
        0);
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
