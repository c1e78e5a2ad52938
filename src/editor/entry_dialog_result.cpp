// The OK path of the entry dialog and the entry it hands back.

#include "editor/entry_dialog.h"

#include "address/address.h"
#include "editor/dest_row_widget.h"
#include "editor/encoder_form.h"
#include "editor/input_widgets.h"
#include "editor/recording_box.h"
#include "editor/relay_box.h"
#include "editor/ui_helpers.h"
#include "module/ui_text.h"

#include <obs.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QSize>

namespace relaycast {

bool EntryDialog::isEmptyRow(const DestRowWidget* row) const {
    return row->addressEdit()->text().trimmed().isEmpty() && row->keyEdit()->text().isEmpty() &&
           row->passphraseEdit()->text().isEmpty();
}

void EntryDialog::accept() {
    if (!followCheck_->isChecked() &&
        (sourceCombo_->currentIndex() < 0 || sourceCombo_->currentData().toString().isEmpty())) {
        showWarning(
            this,
            uiText("No hay ninguna fuente o escena para elegir. Crea alguna en OBS primero."));
        return;
    }
    int number = 0;
    for (const DestRowWidget* row : destRows_) {
        if (isEmptyRow(row))
            continue;
        const QString message = row->validationMessage(++number);
        if (!message.isEmpty()) {
            showWarning(this, message);
            return;
        }
    }
    // Live, the rows and the relay stay as they stream.
    if (const QString refusal = liveLocked_ ? QString() : relayRefusal(); !refusal.isEmpty()) {
        showWarning(this, refusal);
        return;
    }
    QDialog::accept();
}

QString EntryDialog::relayRefusal() const {
    bool marked = false;
    QString firstRefusal;
    int number = 0;
    for (const DestRowWidget* row : destRows_) {
        if (isEmptyRow(row))
            continue;
        ++number;
        if (!row->sendsThroughRelay())
            continue;
        marked = true;
        const QString refusal = row->relayRefusal();
        if (firstRefusal.isEmpty() && !refusal.isEmpty())
            firstRefusal = uiText("Destino %1: ").arg(number) + refusal;
    }
    if (!marked)
        return {};
    // The settings first: with them wrong, nothing at all reaches the relay.
    const QString error = relayBox_->error();
    return error.isEmpty() ? firstRefusal : error;
}

EntryConfig EntryDialog::resultEntry() const {
    EntryConfig entry = original_;
    if (entry.id.isEmpty())
        entry.id = newConfigId();
    entry.nombre = nameEdit_->text().trimmed();
    entry.conEmisionObs = withStreamCheck_->isChecked();
    entry.grabacion = recordingBox_->result();

    if (!liveLocked_) {
        entry.fuente =
            sourceCombo_->currentIndex() >= 0 ? sourceCombo_->currentData().toString() : QString();
        entry.seguirObs = followCheck_->isChecked();
        entry.equivalencias = matchResult();
        entry.codificador = encoderCombo_->currentData().toString();
        entry.codificadorDeObs = sameAsObsCheck_->isChecked();
        entry.audioKbps = audioKbps_->currentData().toInt();
        entry.codificadorAudio = audioCodec_->currentText();
        const QSize size = sizeCombo_->currentData().toSize();
        entry.ancho = size.width();
        entry.alto = size.height();
        entry.llenar = framingCombo_->currentData().toBool();
    }

    entry.videoKbps = videoKbps_->value();
    entry.retrasoAudioMs = audioDelay_->value();

    if (obs_data_t* settings = encoderForm_->settingsObject()) {
        obs_data_set_int(settings, "bitrate", entry.videoKbps);
        const char* json = obs_data_get_json(settings);
        entry.ajustesCodificador = json ? QString::fromUtf8(json) : QString();
    }

    entry.relevo = relayBox_->result();

    if (!liveLocked_) {
        entry.destinos.clear();
        for (const DestRowWidget* row : destRows_) {
            if (isEmptyRow(row))
                continue;
            DestConfig dest = row->source();
            if (dest.id.isEmpty())
                dest.id = newConfigId();
            dest.url = row->addressEdit()->text().trimmed();
            dest.envio = row->sendChoice();
            dest.servicio = row->serviceToStore();
            dest.porRelevo = row->relayMarked();
            dest.clave = row->keyEdit()->text();
            dest.contrasena = classifyAddress(dest.url) == AddressKind::SRT
                                  ? row->passphraseEdit()->text()
                                  : QString();
            // A saved secret that cannot be opened here stays saved until the user types a new
            // one, or clears the field on purpose: then the destination goes without it.
            if (row->keyEdit()->isModified() && dest.clave.isEmpty())
                dest.storedClave = {};
            if (row->passphraseEdit()->isModified() && dest.contrasena.isEmpty())
                dest.storedContrasena = {};
            entry.destinos.append(dest);
        }
    }
    return entry;
}

} // namespace relaycast
