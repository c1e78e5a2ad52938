#pragma once

#include "address/service_catalog.h"
#include "config/config_model.h"

#include <QDialog>
#include <QList>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace relaycast {

class DestRowWidget;
class EncoderForm;
class NoWheelComboBox;
class NoWheelSpinBox;
class RecordingBox;
class RelayBox;

// One scene equivalence row: live host scene on the left, what the entry sends on the right.
struct MatchRow {
    QWidget* row = nullptr;
    NoWheelComboBox* left = nullptr;
    NoWheelComboBox* right = nullptr;
};

// The modal window that creates or edits one entry. While the entry streams (`liveLocked`)
// the fields that would need a restart are disabled and keep their stored values.
class EntryDialog : public QDialog {
    Q_OBJECT

public:
    EntryDialog(QWidget* parent, const EntryConfig& entry, bool editing, bool liveLocked,
                const QList<EncoderProfile>& profiles);
    ~EntryDialog() override;

    // The OK path: checks the source and the destination rows; stays open on a problem.
    void accept() override;

    // The entry built from the fields; meaningful after the dialog was accepted.
    EntryConfig resultEntry() const;

    // The working profile list and whether saving or deleting changed it. The caller stores
    // the list when changed, also after a cancel.
    bool profilesChanged() const { return profilesChanged_; }
    const QList<EncoderProfile>& profiles() const { return profiles_; }

    // Appends one destination row, masked unless "Mostrar claves" is checked.
    void addDestRow(const DestConfig& dest);

    // Selects the codec item whose text equals `text` (trimmed, "aac" when empty) ignoring
    // case, appending an item with that text when the list has none.
    static void selectAudioCodec(QComboBox* combo, const QString& text);

    // Read-only access to the widgets, for the caller's and the tests' inspection.
    bool isLiveLocked() const { return liveLocked_; }
    NoWheelComboBox* sourceCombo() const { return sourceCombo_; }
    QLineEdit* nameEdit() const { return nameEdit_; }
    QCheckBox* followCheck() const { return followCheck_; }
    QCheckBox* withStreamCheck() const { return withStreamCheck_; }
    QCheckBox* sameAsObsCheck() const { return sameAsObsCheck_; }
    QWidget* matchBox() const { return matchBox_; }
    QPushButton* addMatchButton() const { return addMatchButton_; }
    const QList<MatchRow>& matchRows() const { return matchRows_; }
    NoWheelComboBox* encoderCombo() const { return encoderCombo_; }
    QToolButton* advancedToggle() const { return advancedToggle_; }
    QWidget* advancedPanel() const { return advancedPanel_; }
    EncoderForm* encoderForm() const { return encoderForm_; }
    NoWheelSpinBox* videoKbpsSpin() const { return videoKbps_; }
    NoWheelComboBox* audioKbpsCombo() const { return audioKbps_; }
    NoWheelComboBox* audioCodecCombo() const { return audioCodec_; }
    NoWheelSpinBox* audioDelaySpin() const { return audioDelay_; }
    NoWheelComboBox* sizeCombo() const { return sizeCombo_; }
    NoWheelComboBox* framingCombo() const { return framingCombo_; }
    NoWheelComboBox* profileCombo() const { return profileCombo_; }
    QPushButton* saveProfileButton() const { return saveProfileButton_; }
    QPushButton* deleteProfileButton() const { return deleteProfileButton_; }
    QPushButton* addDestButton() const { return addDestButton_; }
    QCheckBox* showKeysCheck() const { return showKeys_; }
    const QList<DestRowWidget*>& destRows() const { return destRows_; }
    // Under the destination rows: the encodes they make the entry run, hidden when there is
    // one and nobody asks anything of their own.
    QLabel* encodesLabel() const { return encodesLabel_; }
    RecordingBox* recordingBox() const { return recordingBox_; }
    RelayBox* relayBox() const { return relayBox_; }

    // Scene equivalence rows.
    void addMatchRow(const QString& sceneName, const QString& targetName);
    void removeMatchRow(QWidget* row);
    // Selects the item whose data is `name`; appends a "⚠ … (ya no existe)" item when none is.
    // An empty name changes nothing.
    static void selectOrMarkMissing(QComboBox* combo, const QString& name);

private:
    // Construction, one piece of the window each.
    QWidget* buildContent();
    // The height the dialog opens with: its whole content when the screen has room.
    int openingHeight(const QScrollArea* scroll, const QWidget* buttons);
    void buildSourceList();
    QWidget* buildMatchBox();
    QWidget* buildProfileBox();
    void fillSizeCombo();
    void applyLiveLock();

    void updateFollowState();
    void updateFramingEnabled();
    void onAdvancedToggled(bool checked);
    void setKeysVisible(bool visible);
    bool isEmptyRow(const DestRowWidget* row) const;
    // Why OK cannot keep the rows marked for the relay: its settings' error, else the first
    // marked row it cannot carry; empty when nothing is marked or all is well.
    QString relayRefusal() const;
    void refreshEncodes();
    // Which rows may be marked for the relay, and the relay section's lines.
    void refreshRelay();
    // The entry's encode as the fields stand (no destinations).
    EntryConfig encodeAsShown() const;
    SceneMatchMap matchResult() const;

    // Rebuilds the advanced form for the selected encoder with the current video bitrate,
    // from `json` over the encoder's defaults (an empty text: the first-time defaults).
    void rebuildEncoderForm(const QString& json);

    // Encoder profiles (the "Perfil:" row). The constructor builds the row, connects the
    // combo's activated signal to applyProfile(index - 1) and the two buttons to
    // saveProfile and deleteProfile, and runs refreshProfileList with the empty name.
    void refreshProfileList(const QString& name);
    int findProfile(const QString& name) const;
    void applyProfile(int index);
    void saveProfile();
    void deleteProfile();

    EntryConfig original_;
    bool editing_ = false;
    bool liveLocked_ = false;
    QList<EncoderProfile> profiles_;
    bool profilesChanged_ = false;

    NoWheelComboBox* sourceCombo_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QCheckBox* followCheck_ = nullptr;
    QCheckBox* withStreamCheck_ = nullptr;
    QCheckBox* sameAsObsCheck_ = nullptr;
    QWidget* matchBox_ = nullptr;
    QVBoxLayout* matchRowsLayout_ = nullptr;
    QPushButton* addMatchButton_ = nullptr;
    QList<MatchRow> matchRows_;
    NoWheelComboBox* encoderCombo_ = nullptr;
    QToolButton* advancedToggle_ = nullptr;
    QWidget* advancedPanel_ = nullptr;
    EncoderForm* encoderForm_ = nullptr;
    NoWheelSpinBox* videoKbps_ = nullptr;
    NoWheelComboBox* audioKbps_ = nullptr;
    NoWheelComboBox* audioCodec_ = nullptr;
    NoWheelSpinBox* audioDelay_ = nullptr;
    NoWheelComboBox* sizeCombo_ = nullptr;
    NoWheelComboBox* framingCombo_ = nullptr;
    NoWheelComboBox* profileCombo_ = nullptr;
    QPushButton* saveProfileButton_ = nullptr;
    QPushButton* deleteProfileButton_ = nullptr;

    QWidget* destRowsHolder_ = nullptr;
    QVBoxLayout* destRowsLayout_ = nullptr;
    QList<DestRowWidget*> destRows_;
    // The host's services, read once for the rows of this dialog.
    ServiceCatalog services_;
    bool servicesRead_ = false;
    QLabel* encodesLabel_ = nullptr;
    QPushButton* addDestButton_ = nullptr;
    QCheckBox* showKeys_ = nullptr;
    RecordingBox* recordingBox_ = nullptr;
    RelayBox* relayBox_ = nullptr;
};

} // namespace relaycast
