#include "editor/encoder_form.h"

#include "editor/input_widgets.h"
#include "editor/ui_helpers.h"
#include "engine/encoding/encoder_settings.h"
#include "module/ui_text.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

namespace relaycast {

namespace {

QString suffixText(const char* suffix) {
    return suffix && *suffix ? QStringLiteral(" ") + QString::fromUtf8(suffix) : QString();
}

// A wrapped row label that asks for the height its text needs at the width it was actually
// given: Qt 5's form layout sizes a row for the label's preferred width, and a label laid out
// narrower would lose its last lines.
class FormRowLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        const int needed = heightForWidth(width());
        if (needed > 0 && needed != minimumHeight())
            setMinimumHeight(needed);
    }
};

} // namespace

EncoderForm::EncoderForm(QWidget* parent) : QWidget(parent), layout_(new QFormLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
}

EncoderForm::~EncoderForm() {
    clearForm();
}

void EncoderForm::clearForm() {
    while (layout_->rowCount() > 0)
        layout_->removeRow(0);
    rows_.clear();
    properties_.reset();
    settings_ = nullptr;
}

void EncoderForm::rebuild(const QString& encoderId, int32_t kbps, const QString& json) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings(encoderId, kbps, json);
    clearForm();
    settings_ = std::move(settings);
    properties_.reset(obs_get_encoder_properties(encoderId.toUtf8().constData()));
    if (!properties_) {
        // The settings object stays: the entry still stores the defaults and the bitrate.
        layout_->addRow(
            makeHintLabel(uiText("Este codificador no ofrece ajustes avanzados."), this));
        return;
    }
    // Lets the encoder adjust its properties (visibility, limits) to these values.
    obs_properties_apply_settings(properties_.get(), settings_);
    for (obs_property_t* property = obs_properties_first(properties_.get()); property;
         obs_property_next(&property))
        addPropertyRow(property);
    refreshRows();
}

void EncoderForm::addPropertyRow(obs_property_t* property) {
    const char* rawName = obs_property_name(property);
    if (!rawName || !*rawName)
        return;
    const QByteArray name(rawName);
    // The dialog's video quality field owns the bitrate.
    if (name == "bitrate")
        return;

    const int type = obs_property_get_type(property);
    const int format = type == OBS_PROPERTY_LIST ? obs_property_list_format(property) : 0;
    QWidget* editor = makeEditor(property, name, type, format);
    if (!editor)
        return;

    const char* description = obs_property_description(property);
    auto* label = new FormRowLabel(description && *description ? QString::fromUtf8(description)
                                                               : QString::fromUtf8(name),
                                   this);
    label->setWordWrap(true);
    layout_->addRow(label, editor);
    rows_.append({name, type, format, label, editor});
}

QWidget* EncoderForm::makeEditor(obs_property_t* property, const QByteArray& name, int type,
                                 int format) {
    switch (type) {
    case OBS_PROPERTY_BOOL: {
        auto* check = new QCheckBox(this);
        connect(check, &QCheckBox::toggled, this, [this, name](bool checked) {
            obs_data_set_bool(settings_, name.constData(), checked);
            settingChanged(name);
        });
        return check;
    }
    case OBS_PROPERTY_INT: {
        auto* spin = new NoWheelSpinBox(this);
        spin->setRange(obs_property_int_min(property), obs_property_int_max(property));
        spin->setSingleStep(std::max(obs_property_int_step(property), 1));
        spin->setSuffix(suffixText(obs_property_int_suffix(property)));
        connect(spin, qOverload<int>(&QSpinBox::valueChanged), this, [this, name](int value) {
            obs_data_set_int(settings_, name.constData(), value);
            settingChanged(name);
        });
        return spin;
    }
    case OBS_PROPERTY_FLOAT: {
        auto* spin = new NoWheelDoubleSpinBox(this);
        spin->setRange(obs_property_float_min(property), obs_property_float_max(property));
        const double step = obs_property_float_step(property);
        spin->setSingleStep(step > 0 ? step : 0.1);
        spin->setSuffix(suffixText(obs_property_float_suffix(property)));
        connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                [this, name](double value) {
                    obs_data_set_double(settings_, name.constData(), value);
                    settingChanged(name);
                });
        return spin;
    }
    case OBS_PROPERTY_TEXT: {
        auto* edit = new QLineEdit(this);
        if (obs_property_text_type(property) == OBS_TEXT_PASSWORD)
            edit->setEchoMode(QLineEdit::Password);
        connect(edit, &QLineEdit::textEdited, this, [this, name](const QString& text) {
            obs_data_set_string(settings_, name.constData(), text.toUtf8().constData());
            settingChanged(name);
        });
        return edit;
    }
    case OBS_PROPERTY_LIST: {
        auto* combo = new NoWheelComboBox(this);
        addListItems(property, combo, format);
        connect(combo, qOverload<int>(&QComboBox::activated), this,
                [this, combo, name, format](int index) {
                    const QVariant value = combo->itemData(index);
                    if (format == OBS_COMBO_FORMAT_INT)
                        obs_data_set_int(settings_, name.constData(), value.toLongLong());
                    else if (format == OBS_COMBO_FORMAT_FLOAT)
                        obs_data_set_double(settings_, name.constData(), value.toDouble());
                    else
                        obs_data_set_string(settings_, name.constData(),
                                            value.toString().toUtf8().constData());
                    settingChanged(name);
                });
        return combo;
    }
    default:
        // Paths, colours, buttons, fonts, editable lists, frame rates and groups are not
        // edited here; their settings keep whatever value they hold.
        return nullptr;
    }
}

void EncoderForm::addListItems(obs_property_t* property, QComboBox* combo, int format) {
    const size_t count = obs_property_list_item_count(property);
    for (size_t i = 0; i < count; ++i) {
        if (obs_property_list_item_disabled(property, i))
            continue;
        const char* itemName = obs_property_list_item_name(property, i);
        QVariant data;
        if (format == OBS_COMBO_FORMAT_INT) {
            data = QVariant::fromValue<qlonglong>(obs_property_list_item_int(property, i));
        } else if (format == OBS_COMBO_FORMAT_FLOAT) {
            data = obs_property_list_item_float(property, i);
        } else {
            const char* text = obs_property_list_item_string(property, i);
            data = QString::fromUtf8(text ? text : "");
        }
        combo->addItem(QString::fromUtf8(itemName ? itemName : ""), data);
    }
}

void EncoderForm::settingChanged(const QByteArray& name) {
    if (properties_) {
        // The encoder's own reaction may change other properties and settings.
        if (obs_property_t* property = obs_properties_get(properties_.get(), name.constData()))
            obs_property_modified(property, settings_);
    }
    refreshRows();
}

void EncoderForm::refreshRows() {
    if (!properties_)
        return;
    for (const FormRow& row : std::as_const(rows_)) {
        obs_property_t* property = obs_properties_get(properties_.get(), row.name.constData());
        const bool visible = property && obs_property_visible(property);
        const bool enabled = property && obs_property_enabled(property);
        row.label->setVisible(visible);
        row.editor->setVisible(visible);
        row.editor->setEnabled(enabled);
        loadRowValue(row);
    }
}

QVariant EncoderForm::listValue(const char* name, int format) const {
    if (format == OBS_COMBO_FORMAT_INT)
        return QVariant::fromValue<qlonglong>(obs_data_get_int(settings_, name));
    if (format == OBS_COMBO_FORMAT_FLOAT)
        return obs_data_get_double(settings_, name);
    const char* text = obs_data_get_string(settings_, name);
    return QString::fromUtf8(text ? text : "");
}

void EncoderForm::loadRowValue(const FormRow& row) {
    // Loading a value is not an edit: no settings write, no encoder reaction.
    const QSignalBlocker blocker(row.editor);
    const char* name = row.name.constData();
    switch (row.type) {
    case OBS_PROPERTY_BOOL:
        static_cast<QCheckBox*>(row.editor)->setChecked(obs_data_get_bool(settings_, name));
        break;
    case OBS_PROPERTY_INT: {
        // A stored value outside the declared limits is shown as it is, never clamped.
        auto* spin = static_cast<QSpinBox*>(row.editor);
        const auto value = static_cast<int32_t>(obs_data_get_int(settings_, name));
        spin->setRange(std::min(spin->minimum(), value), std::max(spin->maximum(), value));
        if (spin->value() != value)
            spin->setValue(value);
        break;
    }
    case OBS_PROPERTY_FLOAT: {
        // Set only on a difference, so a value being typed keeps its text and cursor.
        auto* spin = static_cast<QDoubleSpinBox*>(row.editor);
        const double value = obs_data_get_double(settings_, name);
        spin->setRange(std::min(spin->minimum(), value), std::max(spin->maximum(), value));
        if (spin->value() != value)
            spin->setValue(value);
        break;
    }
    case OBS_PROPERTY_TEXT: {
        // Set only on a difference, so the cursor stays where the user is typing.
        auto* edit = static_cast<QLineEdit*>(row.editor);
        const char* text = obs_data_get_string(settings_, name);
        const QString value = QString::fromUtf8(text ? text : "");
        if (edit->text() != value)
            edit->setText(value);
        break;
    }
    case OBS_PROPERTY_LIST: {
        // A value the encoder no longer lists is shown as an extra item and kept.
        auto* combo = static_cast<QComboBox*>(row.editor);
        const QVariant value = listValue(name, row.format);
        int index = -1;
        for (int i = 0; i < combo->count() && index < 0; ++i)
            if (combo->itemData(i) == value)
                index = i;
        if (index < 0) {
            combo->addItem(value.toString(), value);
            index = combo->count() - 1;
        }
        combo->setCurrentIndex(index);
        break;
    }
    default:
        break;
    }
}

} // namespace relaycast
