#include "editor/recording_box.h"

#include "editor/input_widgets.h"
#include "module/ui_text.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace relaycast {
namespace {

struct FormatChoice {
    const char* format; // the settings file's value
    const char* label;
    const char* tip; // none: nullptr
};

constexpr FormatChoice kFormats[] = {
    {"mkv", "MKV", "Si OBS se cierra de golpe, lo grabado hasta entonces se puede reproducir."},
    {"mp4", "MP4", "Si OBS se cierra de golpe, el archivo no se puede reproducir."},
    {"flv", "FLV", nullptr},
};

} // namespace

RecordingBox::RecordingBox(const RecordingConfig& config, QWidget* parent)
    : QGroupBox(uiText("Grabación"), parent), envio_(config.envio) {
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    format_ = new NoWheelComboBox(this);
    for (const FormatChoice& choice : kFormats) {
        format_->addItem(QString::fromLatin1(choice.label), QString::fromLatin1(choice.format));
        if (choice.tip)
            format_->setItemData(format_->count() - 1, uiText(choice.tip), Qt::ToolTipRole);
    }
    format_->setCurrentIndex(std::max(format_->findData(config.formato), 0));
    form->addRow(uiText("Formato:"), format_);

    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(0, 0, 0, 0);
    folder_ = new QLineEdit(config.carpeta, this);
    folder_->setPlaceholderText(uiText("Carpeta de grabación de OBS"));
    folderRow->addWidget(folder_, 1);
    browse_ = new QToolButton(this);
    browse_->setText(QString::fromUtf8("…"));
    browse_->setToolTip(uiText("Elegir la carpeta de grabación"));
    connect(browse_, &QToolButton::clicked, this, [this] { browseFolder(); });
    folderRow->addWidget(browse_);
    form->addRow(uiText("Carpeta:"), folderRow);

    withStreams_ = new QCheckBox(uiText("Grabar también mientras emite"), this);
    withStreams_->setChecked(config.conEmisiones);
    withStreams_->setToolTip(uiText("La grabación empieza cuando esta entrada empieza a emitir "
                                    "y para cuando para de emitir"));
    form->addRow(QString(), withStreams_);
}

RecordingBox::~RecordingBox() = default;

RecordingConfig RecordingBox::result() const {
    RecordingConfig config;
    config.formato = format_->currentData().toString();
    config.carpeta = folder_->text().trimmed();
    config.conEmisiones = withStreams_->isChecked();
    config.envio = envio_;
    return config;
}

void RecordingBox::browseFolder() {
    const QString current = folder_->text().trimmed();
    const QString chosen =
        QFileDialog::getExistingDirectory(this, uiText("Elegir la carpeta de grabación"),
                                          current.isEmpty() ? QDir::homePath() : current);
    if (!chosen.isEmpty())
        folder_->setText(QDir::toNativeSeparators(chosen));
}

} // namespace relaycast
