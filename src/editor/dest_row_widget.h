#pragma once

#include "address/service_catalog.h"
#include "address/service_limits.h"
#include "config/config_model.h"

#include <QFrame>
#include <QString>

#include <functional>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QToolButton;

namespace relaycast {

class NoWheelComboBox;
class NoWheelSpinBox;

// One destination of the entry dialog: the service menu (the host's services list, or an
// address of the user's own) with the service's servers and its stream-key page, address, key
// (RIST: its secret), SRT passphrase, a hint naming the recognised address kind, what the
// service's limits ask of it, a remove button, and behind "Avanzado…" what the destination
// takes of the entry's encode (bitrate cap, size, audio, delay), and "Por el relé" to have the
// entry's own relay send it instead of OBS.
class DestRowWidget : public QFrame {
    Q_OBJECT

public:
    using RemoveCallback = std::function<void(DestRowWidget*)>;

    // What the entry sends a destination taking `choice`, as the dialog's fields stand.
    using SentStreamOf = std::function<SentStream(const SendChoice&)>;

    DestRowWidget(const DestConfig& dest, QWidget* parent, RemoveCallback removeCallback,
                  ServiceCatalog services = {});
    ~DestRowWidget() override;

    // Hint, key placeholder and passphrase visibility from the current address.
    void refreshKind();

    // Empty when the row may be saved; otherwise the complete message for row `number`.
    QString validationMessage(int number) const;

    // Clear text or password echo for the key and passphrase fields, and for the address while
    // it carries a query (where keys travel too).
    void setSecretsVisible(bool visible);

    // The destination the row was built from; only its id is used again.
    const DestConfig& source() const { return source_; }

    // What the destination takes, as the "Avanzado…" section shows it.
    SendChoice sendChoice() const;

    // The chosen service's name in the host's list; empty for an address of the user's own.
    QString serviceName() const;
    // What the destination stores as its service: the one shown once the user chose it, typed
    // its address or picked a server here; else what it was stored with, so that OK on an
    // untouched row neither changes the file nor undoes an edit made meanwhile elsewhere.
    QString serviceToStore() const;
    // Checks the service's limits against what the entry sends. Once the user has chosen the
    // service or typed its address here, a cap or size the service needs is set in
    // "Avanzado…" (and stays changeable); a destination as it was stored only says so, so
    // that saving an entry on air never restarts a destination nobody touched.
    void setSentStreamOf(SentStreamOf sentStreamOf);
    void refreshServiceFit();

    // Whether the entry's relay section holds an address: only then can the row be marked.
    void setRelayAvailable(bool available);
    // Marked "Por el relé" (kept while the relay has no address, as the settings file keeps it).
    bool relayMarked() const;
    // Marked while the relay has an address: the relay sends it, not OBS.
    bool sendsThroughRelay() const;
    // Why the relay cannot carry the address and key as typed; empty when it can.
    QString relayRefusal() const;

    NoWheelComboBox* serviceCombo() const { return serviceCombo_; }
    NoWheelComboBox* serverCombo() const { return serverCombo_; }
    QLabel* streamKeyLink() const { return keyLink_; }
    QLabel* serviceFitLabel() const { return fitLabel_; }
    QLineEdit* addressEdit() const { return addressEdit_; }
    QLineEdit* keyEdit() const { return keyEdit_; }
    QLineEdit* passphraseEdit() const { return passphraseEdit_; }
    QLabel* hintLabel() const { return hintLabel_; }
    // Shown while an address carries a query: the host writes addresses to its log as they are.
    QLabel* queryWarningLabel() const { return queryWarning_; }
    QToolButton* removeButton() const { return removeButton_; }
    QToolButton* sendToggle() const { return sendToggle_; }
    QWidget* sendPanel() const { return sendPanel_; }
    NoWheelSpinBox* capSpin() const { return capSpin_; }
    NoWheelComboBox* ownSizeCombo() const { return ownSizeCombo_; }
    NoWheelComboBox* audioTrackCombo() const { return audioTrackCombo_; }
    NoWheelSpinBox* delaySpin() const { return delaySpin_; }
    QCheckBox* relayCheck() const { return relayCheck_; }
    // Shown while a marked row is one the relay cannot carry.
    QLabel* relayNoteLabel() const { return relayNote_; }

Q_SIGNALS:
    // The address or what the destination takes changed.
    void sendChanged();
    // The mark, the address or the key changed: what the relay carries.
    void relayChanged();

private:
    QWidget* buildSendPanel();
    void fillServiceMenu();
    void onServiceActivated(int index);
    void onServerActivated(int index);
    void onAddressChanged(const QString& text);
    // Shows `service` (nullptr: none) with its servers, `server` selected (-1: none).
    void showService(const StreamingService* service, int server);
    const StreamingService* currentService() const;
    void refreshRelay();

    DestConfig source_;
    ServiceCatalog services_;
    SentStreamOf sentStreamOf_;
    NoWheelComboBox* serviceCombo_ = nullptr;
    NoWheelComboBox* serverCombo_ = nullptr;
    QLabel* keyLink_ = nullptr;
    QLabel* fitLabel_ = nullptr;
    QToolButton* removeButton_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* keyEdit_ = nullptr;
    QLineEdit* passphraseEdit_ = nullptr;
    QLabel* hintLabel_ = nullptr;
    QLabel* queryWarning_ = nullptr;
    QToolButton* sendToggle_ = nullptr;
    QWidget* sendPanel_ = nullptr;
    NoWheelSpinBox* capSpin_ = nullptr;
    NoWheelComboBox* ownSizeCombo_ = nullptr;
    NoWheelComboBox* audioTrackCombo_ = nullptr;
    NoWheelSpinBox* delaySpin_ = nullptr;
    QCheckBox* relayCheck_ = nullptr;
    QLabel* relayNote_ = nullptr;
    bool relayAvailable_ = false;
    bool secretsVisible_ = false;
    bool applyingTemplate_ = false;
    // The user chose this destination's service in this dialog: its limits are applied.
    bool fitsOnItsOwn_ = false;
    bool serviceTouched_ = false;
    RemoveCallback removeCallback_;
};

} // namespace relaycast
