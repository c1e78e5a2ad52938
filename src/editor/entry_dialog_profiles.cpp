// The "Perfil:" row of the entry dialog: named sets of encoder choices saved from one dialog
// and applied in another. Saving and deleting change only the dialog's working list; the
// caller stores it, also when the dialog is cancelled.

#include "editor/encoder_form.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "editor/ui_helpers.h"
#include "module/ui_text.h"

#include <obs.h>

#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace relaycast {

namespace {

int findItemData(const QComboBox* combo, const QVariant& value) {
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemData(i) == value)
            return i;
    return -1;
}

} // namespace

void EntryDialog::refreshProfileList(const QString& name) {
    profileCombo_->clear();
    profileCombo_->addItem(profiles_.isEmpty() ? uiText("(ninguno guardado todavía)")
                                               : uiText("Elige un perfil…"));
    // Items carry no data: item i + 1 is profile i.
    for (const EncoderProfile& profile : std::as_const(profiles_))
        profileCombo_->addItem(
            QStringLiteral("%1 · %2 kbps").arg(profile.nombre, QString::number(profile.videoKbps)));
    const int found = name.isEmpty() ? -1 : findProfile(name);
    profileCombo_->setCurrentIndex(found + 1);
    deleteProfileButton_->setEnabled(!profiles_.isEmpty());
}

int EntryDialog::findProfile(const QString& name) const {
    for (qsizetype i = 0; i < profiles_.size(); ++i)
        if (profiles_.at(i).nombre.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

void EntryDialog::applyProfile(int index) {
    if (index < 0 || index >= profiles_.size())
        return;
    const EncoderProfile profile = profiles_.at(index);
    videoKbps_->setValue(profile.videoKbps);

    if (liveLocked_) {
        // The running encoder cannot change; its settings can.
        if (encoderCombo_->currentData().toString() == profile.codificador) {
            rebuildEncoderForm(profile.ajustesCodificador);
            return;
        }
    } else {
        const int audio = findItemData(audioKbps_, profile.audioKbps);
        if (audio >= 0)
            audioKbps_->setCurrentIndex(audio);
        selectAudioCodec(audioCodec_, profile.codificadorAudio);
        const int encoder = findItemData(encoderCombo_, profile.codificador);
        if (encoder >= 0) {
            {
                // Not the usual rebuild from the encoder's defaults: the profile's own settings.
                const QSignalBlocker blocker(encoderCombo_);
                encoderCombo_->setCurrentIndex(encoder);
            }
            rebuildEncoderForm(profile.ajustesCodificador);
            return;
        }
    }
    showWarning(this, uiText("El perfil «%1» usa otro codificador que no se puede aplicar aquí. "
                             "Se ha aplicado solo la calidad de vídeo.")
                          .arg(profile.nombre));
}

void EntryDialog::saveProfile() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, uiText("Guardar perfil"), uiText("Nombre del perfil:"),
                              QLineEdit::Normal, QString(), &ok)
            .trimmed();
    if (!ok || name.isEmpty())
        return;

    const int existing = findProfile(name);
    if (existing >= 0 &&
        !askConfirmation(this, uiText("Guardar perfil"),
                         uiText("Ya existe un perfil llamado «%1». ¿Sustituirlo?").arg(name),
                         uiText("Sí, sustituir")))
        return;

    EncoderProfile profile;
    profile.nombre = name;
    profile.codificador = encoderCombo_->currentData().toString();
    profile.videoKbps = videoKbps_->value();
    if (audioKbps_->currentData().isValid())
        profile.audioKbps = audioKbps_->currentData().toInt();
    profile.codificadorAudio = audioCodec_->currentText();
    if (obs_data_t* settings = encoderForm_ ? encoderForm_->settingsObject() : nullptr) {
        obs_data_set_int(settings, "bitrate", profile.videoKbps);
        const char* json = obs_data_get_json(settings);
        profile.ajustesCodificador = QString::fromUtf8(json ? json : "");
    }

    // A replaced profile keeps its place and takes the letter case just typed.
    if (existing < 0)
        profiles_.append(profile);
    else
        profiles_[existing] = profile;
    profilesChanged_ = true;
    refreshProfileList(name);
}

void EntryDialog::deleteProfile() {
    const int index = profileCombo_->currentIndex() - 1;
    if (index < 0 || index >= profiles_.size()) {
        showWarning(this, uiText("Primero elige en la lista el perfil que quieres borrar."));
        return;
    }
    if (!askConfirmation(this, uiText("Borrar perfil"),
                         uiText("¿Borrar el perfil «%1»?").arg(profiles_.at(index).nombre),
                         uiText("Sí, borrar")))
        return;
    profiles_.removeAt(index);
    profilesChanged_ = true;
    refreshProfileList(QString());
}

} // namespace relaycast
