#pragma once

#include "config/config_model.h"

#include <QFrame>
#include <QString>

#include <functional>

class QGridLayout;
class QLabel;
class QLineEdit;
class QToolButton;

namespace relaycast {

class NoWheelComboBox;
class NoWheelSpinBox;

// A platform whose ingest address a destination row can fill in.
struct DestinationTemplate {
    const char* name; // passed through uiText
    const char* address;
};

// The fixed template menu, in menu order.
const QList<DestinationTemplate>& destinationTemplates();

// One destination of the entry dialog: template menu, address, key (RIST: its secret), SRT
// passphrase, a hint naming the recognised address kind, a remove button, and behind
// "Avanzado…" what the destination takes of the entry's encode (bitrate cap, size, audio,
// delay).
class DestRowWidget : public QFrame {
    Q_OBJECT

public:
    using RemoveCallback = std::function<void(DestRowWidget*)>;

    DestRowWidget(const DestConfig& dest, QWidget* parent, RemoveCallback removeCallback);
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

    NoWheelComboBox* templateCombo() const { return templateCombo_; }
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

Q_SIGNALS:
    // The address or what the destination takes changed.
    void sendChanged();

private:
    QWidget* buildSendPanel();
    void preselectTemplate();
    void onTemplateActivated(int index);
    void onAddressChanged(const QString& text);

    DestConfig source_;
    NoWheelComboBox* templateCombo_ = nullptr;
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
    bool secretsVisible_ = false;
    bool applyingTemplate_ = false;
    RemoveCallback removeCallback_;
};

} // namespace relaycast
