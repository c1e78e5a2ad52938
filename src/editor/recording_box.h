#pragma once

#include "config/config_model.h"

#include <QGroupBox>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace relaycast {

class NoWheelComboBox;

// The entry dialog's "Grabación" group: the file format, the folder (empty: OBS's recording
// folder) and whether the recording goes with the entry's streams. What it sets applies to the
// next recording, so it stays editable while the entry is live.
class RecordingBox : public QGroupBox {
public:
    RecordingBox(const RecordingConfig& config, QWidget* parent = nullptr);
    ~RecordingBox() override;

    RecordingConfig result() const;

    NoWheelComboBox* formatCombo() const { return format_; }
    QLineEdit* folderEdit() const { return folder_; }
    QToolButton* browseButton() const { return browse_; }
    QCheckBox* withStreamsCheck() const { return withStreams_; }

private:
    void browseFolder();

    NoWheelComboBox* format_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QToolButton* browse_ = nullptr;
    QCheckBox* withStreams_ = nullptr;
    // Its own encode, which only the settings file sets: handed back as it came.
    SendChoice envio_;
};

} // namespace relaycast
