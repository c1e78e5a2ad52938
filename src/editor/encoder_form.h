#pragma once

#include <obs.hpp>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <memory>

class QComboBox;
class QFormLayout;

namespace relaycast {

// The advanced settings of one video encoder as a form generated from the property
// description the host publishes for it. Edits go straight into a host settings object, whose
// JSON text the dialog stores; the bitrate is not part of the form.
class EncoderForm : public QWidget {
    Q_OBJECT

public:
    explicit EncoderForm(QWidget* parent = nullptr);
    ~EncoderForm() override;

    // Rebuilds the form for `encoderId`: the settings are the encoder's defaults, then `json`
    // over them (or the module's first-time values when it is empty), then "bitrate" = kbps.
    void rebuild(const QString& encoderId, int32_t kbps, const QString& json);

    // The settings being edited (owned by the form), or null before the first rebuild.
    obs_data_t* settingsObject() const { return settings_; }

    // Removes every row, destroys the property set and releases the settings object.
    void clearForm();

    // One generated row, in the order the rows were added.
    struct FormRow {
        QByteArray name; // property name, the settings key
        int type = 0;    // obs_property_type
        int format = 0;  // obs_combo_format, lists only
        QWidget* label = nullptr;
        QWidget* editor = nullptr;
    };
    const QList<FormRow>& rows() const { return rows_; }

private:
    struct PropertiesDeleter {
        void operator()(obs_properties_t* props) const { obs_properties_destroy(props); }
    };
    using PropertiesPtr = std::unique_ptr<obs_properties_t, PropertiesDeleter>;

    void addPropertyRow(obs_property_t* property);
    QWidget* makeEditor(obs_property_t* property, const QByteArray& name, int type, int format);
    static void addListItems(obs_property_t* property, QComboBox* combo, int format);
    // After an editor wrote its setting: the encoder's own reaction, then the rows.
    void settingChanged(const QByteArray& name);
    void refreshRows();
    void loadRowValue(const FormRow& row);
    QVariant listValue(const char* name, int format) const;

    QFormLayout* layout_ = nullptr;
    PropertiesPtr properties_;
    OBSDataAutoRelease settings_;
    QList<FormRow> rows_;
};

} // namespace relaycast
