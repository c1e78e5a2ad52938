#include "editor/entry_dialog.h"

#include "address/host_services.h"
#include "editor/dest_row_widget.h"
#include "editor/encoder_form.h"
#include "editor/input_widgets.h"
#include "editor/recording_box.h"
#include "editor/relay_box.h"
#include "editor/send_choice_text.h"
#include "editor/themed_icon.h"
#include "editor/ui_helpers.h"
#include "editor/video_encoder_list.h"
#include "engine/encoding/service_check.h"
#include "engine/picture/entry_pipeline.h"
#include "module/ui_text.h"

#include <obs.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSize>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace relaycast {

namespace {

constexpr int kNameMaxLength = 80;
constexpr int kInitialWidth = 540;
constexpr int kSmallestOpeningHeight = 320;
constexpr int kAdvancedHeight = 860;
constexpr int kScreenMargin = 80;

// The area the dialog may use; a fixed desktop when it has no screen.
QRect availableArea(const QWidget* widget) {
    const QScreen* screen = widget->screen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
}

struct SizePreset {
    const char* text;
    int width;
    int height;
};

constexpr SizePreset kSizePresets[] = {
    {"Igual que el lienzo de OBS", 0, 0},        {"1920×1080 (horizontal)", 1920, 1080},
    {"1280×720 (horizontal)", 1280, 720},        {"1080×1920 (vertical, móviles)", 1080, 1920},
    {"720×1280 (vertical, móviles)", 720, 1280}, {"1080×1080 (cuadrado)", 1080, 1080},
};

} // namespace

EntryDialog::EntryDialog(QWidget* parent, const EntryConfig& entry, bool editing, bool liveLocked,
                         const QList<EncoderProfile>& profiles)
    : QDialog(parent), original_(entry), editing_(editing), liveLocked_(liveLocked),
      profiles_(profiles) {
    setWindowTitle(editing ? uiText("Editar entrada") : uiText("Añadir entrada"));
    setMinimumWidth(480);

    auto* outer = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(buildContent());
    outer->addWidget(scroll, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(uiText("Aceptar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(uiText("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &EntryDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &EntryDialog::reject);
    outer->addWidget(buttons);

    if (liveLocked_)
        applyLiveLock();
    resize(kInitialWidth, openingHeight(scroll, buttons));
}

int EntryDialog::openingHeight(const QScrollArea* scroll, const QWidget* buttons) {
    // Sizes come from the style in use (the host's theme), known once polished.
    ensurePolished();
    const QMargins margins = layout()->contentsMargins();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int contentWidth = kInitialWidth - margins.left() - margins.right() - scrollBar;
    const QWidget* content = scroll->widget();
    const int contentHeight = content->hasHeightForWidth() ? content->heightForWidth(contentWidth)
                                                           : content->sizeHint().height();
    const int wanted = margins.top() + contentHeight + layout()->spacing() +
                       buttons->sizeHint().height() + margins.bottom();
    // The whole form when the screen has room, so the destinations are in view at once;
    // otherwise the screen's free height, and the form scrolls.
    return std::max(std::min(wanted, availableArea(this).height() - kScreenMargin),
                    kSmallestOpeningHeight);
}

EntryDialog::~EntryDialog() = default;

QWidget* EntryDialog::buildContent() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 6, 0);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    column->addLayout(form);

    sourceCombo_ = new NoWheelComboBox(content);
    buildSourceList();
    form->addRow(uiText("Qué quieres emitir:"), sourceCombo_);

    nameEdit_ = new QLineEdit(content);
    nameEdit_->setMaxLength(kNameMaxLength);
    nameEdit_->setText(original_.nombre);
    nameEdit_->setPlaceholderText(uiText("Si lo dejas vacío, se usa el nombre de la fuente"));
    form->addRow(uiText("Nombre (opcional):"), nameEdit_);

    followCheck_ = new QCheckBox(uiText("Seguir la escena que tenga OBS en directo"), content);
    followCheck_->setChecked(original_.seguirObs);
    followCheck_->setToolTip(uiText("Cuando cambies de escena en OBS, esta entrada cambia sola "
                                    "a la escena equivalente, sin cortar la emisión"));
    form->addRow(QString(), followCheck_);

    form->addRow(buildMatchBox());

    withStreamCheck_ = new QCheckBox(uiText("Empezar y parar con la emisión de OBS"), content);
    withStreamCheck_->setChecked(original_.conEmisionObs);
    withStreamCheck_->setToolTip(uiText("Al pulsar «Iniciar transmisión» en OBS, esta entrada "
                                        "emite a todos sus destinos; al detenerla, para"));
    form->addRow(QString(), withStreamCheck_);
    updateFollowState();
    connect(followCheck_, &QCheckBox::toggled, this, [this] { updateFollowState(); });

    encoderCombo_ = new NoWheelComboBox(content);
    int storedEncoder = -1;
    for (const VideoEncoderChoice& choice : listVideoEncoders()) {
        encoderCombo_->addItem(choice.label, choice.id);
        if (choice.id == original_.codificador)
            storedEncoder = encoderCombo_->count() - 1;
    }
    if (storedEncoder < 0 && liveLocked_) {
        // A streaming entry cannot change its encoder, so the form must edit the settings of
        // the one that runs, offered here or not.
        const QByteArray id = original_.codificador.toUtf8();
        const char* name = obs_encoder_get_display_name(id.constData());
        encoderCombo_->addItem(name ? QString::fromUtf8(name) : original_.codificador,
                               original_.codificador);
        storedEncoder = encoderCombo_->count() - 1;
    }
    const bool keepStoredEncoder = editing_ && storedEncoder >= 0;
    encoderCombo_->setCurrentIndex(keepStoredEncoder ? storedEncoder : 0);
    form->addRow(uiText("Codificador de vídeo:"), encoderCombo_);
    sameAsObsCheck_ = new QCheckBox(uiText("Igual que la emisión de OBS"), content);
    sameAsObsCheck_->setChecked(original_.codificadorDeObs);
    sameAsObsCheck_->setToolTip(
        uiText("Mientras sigue la escena en directo de OBS a su tamaño, envía lo que codifica la "
               "emisión de OBS: nada se codifica dos veces. Sin la emisión de OBS aún, usa el "
               "codificador de arriba."));
    form->addRow(QString(), sameAsObsCheck_);
    updateFollowState();

    videoKbps_ = new NoWheelSpinBox(content);
    videoKbps_->setRange(kMinVideoKbps, kMaxVideoKbps);
    videoKbps_->setSingleStep(500);
    videoKbps_->setSuffix(QStringLiteral(" kbps"));
    videoKbps_->setValue(original_.videoKbps);
    form->addRow(uiText("Calidad de vídeo:"), videoKbps_);

    audioKbps_ = new NoWheelComboBox(content);
    for (int kbps : kAudioKbpsChoices)
        audioKbps_->addItem(QStringLiteral("%1 kbps").arg(kbps), kbps);
    const int storedAudio = audioKbps_->findData(original_.audioKbps);
    audioKbps_->setCurrentIndex(storedAudio >= 0 ? storedAudio : 1);
    form->addRow(uiText("Calidad de audio:"), audioKbps_);

    audioCodec_ = new NoWheelComboBox(content);
    audioCodec_->addItem(QStringLiteral("aac"));
    audioCodec_->addItem(QStringLiteral("opus"));
    selectAudioCodec(audioCodec_, original_.codificadorAudio);
    audioCodec_->setToolTip(uiText("Códec de audio. «aac» = AAC (por defecto). «opus» = Opus "
                                   "(menor latencia hacia el navegador, si el servidor lo "
                                   "admite)."));
    form->addRow(uiText("Códec de audio:"), audioCodec_);

    audioDelay_ = new NoWheelSpinBox(content);
    audioDelay_->setRange(kMinAudioDelayMs, kMaxAudioDelayMs);
    audioDelay_->setSingleStep(20);
    audioDelay_->setSuffix(QStringLiteral(" ms"));
    audioDelay_->setValue(original_.retrasoAudioMs);
    audioDelay_->setToolTip(uiText("Retrasa el audio de esta entrada. Súbelo si el sonido se "
                                   "oye antes que la imagen (prueba con 100-300 ms). Se puede "
                                   "cambiar con la emisión en marcha."));
    form->addRow(uiText("Retraso de audio:"), audioDelay_);

    sizeCombo_ = new NoWheelComboBox(content);
    fillSizeCombo();
    form->addRow(uiText("Tamaño de imagen:"), sizeCombo_);

    framingCombo_ = new NoWheelComboBox(content);
    framingCombo_->addItem(uiText("Ajustar, con bandas si no coincide"), false);
    framingCombo_->addItem(uiText("Llenar, recortando lo que sobre"), true);
    framingCombo_->setCurrentIndex(original_.llenar ? 1 : 0);
    form->addRow(uiText("Encuadre:"), framingCombo_);
    updateFramingEnabled();
    connect(sizeCombo_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { updateFramingEnabled(); });

    form->addRow(uiText("Perfil:"), buildProfileBox());

    // The advanced toggle and its panel go right below the encoder row.
    int encoderRow = -1;
    form->getWidgetPosition(encoderCombo_, &encoderRow, nullptr);
    advancedToggle_ = new QToolButton(content);
    advancedToggle_->setText(uiText(" Ajustes avanzados del codificador"));
    advancedToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    advancedToggle_->setArrowType(Qt::RightArrow);
    advancedToggle_->setAutoRaise(true);
    advancedToggle_->setCheckable(true);
    form->insertRow(encoderRow + 1, QString(), advancedToggle_);

    advancedPanel_ = new QWidget(content);
    auto* advancedColumn = new QVBoxLayout(advancedPanel_);
    advancedColumn->setContentsMargins(0, 0, 0, 0);
    advancedColumn->addWidget(makeHintLabel(
        uiText("Son los mismos ajustes que ofrece OBS para este codificador (fotogramas B, "
               "preajuste, perfil...). Si no sabes qué hace uno, déjalo como está. En x264, las "
               "opciones extra se escriben en el campo de opciones personalizadas, por ejemplo: "
               "bframes=2 ref=3"),
        advancedPanel_));
    encoderForm_ = new EncoderForm(advancedPanel_);
    advancedColumn->addWidget(encoderForm_);
    advancedPanel_->setVisible(false);
    form->insertRow(encoderRow + 2, advancedPanel_);
    connect(advancedToggle_, &QToolButton::toggled, this, &EntryDialog::onAdvancedToggled);

    rebuildEncoderForm(keepStoredEncoder ? original_.ajustesCodificador : QString());
    connect(encoderCombo_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { rebuildEncoderForm(QString()); });

    column->addWidget(
        makeHintLabel(uiText("Si eliges una escena se emite la escena completa con su audio. Si "
                             "eliges una fuente, se emite sola, ajustada al tamaño del lienzo."),
                      content));
    column->addSpacing(4);
    column->addWidget(new QLabel(uiText("<b>Destinos</b>"), content));

    destRowsHolder_ = content;
    destRowsLayout_ = new QVBoxLayout;
    destRowsLayout_->setSpacing(6);
    column->addLayout(destRowsLayout_);
    if (original_.destinos.isEmpty())
        addDestRow(DestConfig{});
    for (const DestConfig& dest : original_.destinos)
        addDestRow(dest);
    encodesLabel_ = makeHintLabel(QString(), content);
    column->addWidget(encodesLabel_);
    refreshEncodes();
    connect(videoKbps_, qOverload<int>(&QSpinBox::valueChanged), this,
            [this] { refreshEncodes(); });
    connect(sizeCombo_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { refreshEncodes(); });

    addDestButton_ = new QPushButton(content);
    setIconText(addDestButton_, uiText("＋ Añadir otro destino"));
    connect(addDestButton_, &QPushButton::clicked, this, [this] { addDestRow(DestConfig{}); });
    column->addWidget(addDestButton_);

    showKeys_ = new QCheckBox(uiText("Mostrar claves"), content);
    connect(showKeys_, &QCheckBox::toggled, this, &EntryDialog::setKeysVisible);
    column->addWidget(showKeys_);

    column->addWidget(makeHintLabel(uiText("Las claves se guardan en tu ordenador, dentro de la "
                                           "configuración de OBS. No las compartas ni envíes "
                                           "ese archivo a nadie."),
                                    content));
    // Applies to the next recording: never live-locked.
    recordingBox_ = new RecordingBox(original_.grabacion, content);
    column->addWidget(recordingBox_);
    // Made last, as it reads the whole entry from the fields; shown above the recording.
    relayBox_ = new RelayBox(original_.relevo, liveLocked_, content);
    column->insertWidget(column->indexOf(recordingBox_), relayBox_);
    relayBox_->setEntryOf([this] { return resultEntry(); });
    connect(relayBox_, &RelayBox::relayChanged, this, [this] { refreshRelay(); });
    refreshRelay();
    column->addStretch();
    return content;
}

void EntryDialog::buildSourceList() {
    for (const QString& name : listSceneNames())
        addIconItem(sourceCombo_, uiText("🎬 Escena: ") + name, name);
    for (const QString& name : listInputSourceNames())
        addIconItem(sourceCombo_, uiText("🎥 Fuente: ") + name, name);
    selectOrMarkMissing(sourceCombo_, original_.fuente);
}

void EntryDialog::fillSizeCombo() {
    int selected = -1;
    for (const SizePreset& preset : kSizePresets) {
        sizeCombo_->addItem(uiText(preset.text), QSize(preset.width, preset.height));
        if (preset.width == original_.ancho && preset.height == original_.alto)
            selected = sizeCombo_->count() - 1;
    }
    if (selected < 0 && original_.ancho > 0) {
        sizeCombo_->addItem(
            uiText("%1×%2 (personalizado)").arg(original_.ancho).arg(original_.alto),
            QSize(original_.ancho, original_.alto));
        selected = sizeCombo_->count() - 1;
    }
    sizeCombo_->setCurrentIndex(std::max(selected, 0));
}

QWidget* EntryDialog::buildProfileBox() {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    profileCombo_ = new NoWheelComboBox(box);
    profileCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profileCombo_->setMinimumContentsLength(8);
    profileCombo_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    column->addWidget(profileCombo_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    saveProfileButton_ = new QPushButton(uiText("Guardar perfil…"), box);
    saveProfileButton_->setToolTip(uiText("Guarda la calidad, el audio y los ajustes de "
                                          "codificador de esta ventana con un nombre"));
    deleteProfileButton_ = new QPushButton(uiText("Borrar"), box);
    buttons->addWidget(saveProfileButton_);
    buttons->addWidget(deleteProfileButton_);
    buttons->addStretch();
    column->addLayout(buttons);

    connect(profileCombo_, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { applyProfile(index - 1); });
    connect(saveProfileButton_, &QPushButton::clicked, this, [this] { saveProfile(); });
    connect(deleteProfileButton_, &QPushButton::clicked, this, [this] { deleteProfile(); });
    refreshProfileList(QString());
    return box;
}

void EntryDialog::applyLiveLock() {
    // What would need the stream restarted stays as stored while the entry is live.
    for (QWidget* w : std::initializer_list<QWidget*>{
             sourceCombo_, followCheck_, matchBox_, encoderCombo_, audioKbps_, audioCodec_,
             sizeCombo_, framingCombo_, addDestButton_, sameAsObsCheck_})
        w->setEnabled(false);
    for (DestRowWidget* row : destRows_)
        row->setEnabled(false);
}

void EntryDialog::updateFollowState() {
    matchBox_->setVisible(followCheck_->isChecked());
    sourceCombo_->setEnabled(!followCheck_->isChecked() && !liveLocked_);
    // Only OBS's program can be what OBS's stream encodes.
    if (sameAsObsCheck_)
        sameAsObsCheck_->setEnabled(followCheck_->isChecked() && !liveLocked_);
}

void EntryDialog::updateFramingEnabled() {
    // With the canvas size there is nothing to fit.
    const QSize size = sizeCombo_->currentData().toSize();
    framingCombo_->setEnabled(!liveLocked_ && size.width() >= 1);
}

void EntryDialog::onAdvancedToggled(bool checked) {
    advancedPanel_->setVisible(checked);
    advancedToggle_->setArrowType(checked ? Qt::DownArrow : Qt::RightArrow);
    if (checked) {
        const QRect area = availableArea(this);
        const int target = std::min(kAdvancedHeight, area.height() - kScreenMargin);
        resize(width(), std::max(height(), target));
    }
    // Once the window manager has the new size, keep the bottom edge on the screen.
    QTimer::singleShot(0, this, [this] {
        const QRect area = availableArea(this);
        const QRect frame = frameGeometry();
        if (frame.bottom() <= area.bottom())
            return;
        const int top = std::max(frame.top() - (frame.bottom() - area.bottom()), area.top());
        move(pos().x(), top);
    });
}

void EntryDialog::setKeysVisible(bool visible) {
    for (DestRowWidget* row : destRows_)
        row->setSecretsVisible(visible);
    relayBox_->setSecretVisible(visible);
}

void EntryDialog::refreshRelay() {
    if (!relayBox_)
        return;
    for (DestRowWidget* row : destRows_)
        row->setRelayAvailable(relayBox_->hasAddress());
    relayBox_->refresh();
}

void EntryDialog::addDestRow(const DestConfig& dest) {
    if (!servicesRead_) {
        services_ = hostServices();
        servicesRead_ = true;
    }
    // Its id now: the relay's configuration names its destinations, so a new row must keep
    // one id from writing that configuration to OK.
    DestConfig withId = dest;
    if (withId.id.isEmpty())
        withId.id = newConfigId();
    auto* row = new DestRowWidget(
        withId, destRowsHolder_,
        [this](DestRowWidget* removed) {
            const qsizetype at = destRows_.indexOf(removed);
            if (at >= 0)
                destRows_.removeAt(at);
            removed->hide();
            removed->deleteLater();
            refreshEncodes();
            refreshRelay();
        },
        services_);
    connect(row, &DestRowWidget::sendChanged, this, [this] { refreshEncodes(); });
    connect(row, &DestRowWidget::relayChanged, this, [this] {
        refreshEncodes();
        if (relayBox_)
            relayBox_->refresh();
    });
    row->setSentStreamOf(
        [this](const SendChoice& choice) { return hostSentStreamOf(encodeAsShown(), choice); });
    if (showKeys_ && showKeys_->isChecked())
        row->setSecretsVisible(true);
    destRows_.append(row);
    destRowsLayout_->addWidget(row);
    refreshEncodes();
    refreshRelay();
}

EntryConfig EntryDialog::encodeAsShown() const {
    EntryConfig shown;
    shown.codificador = encoderCombo_->currentData().toString();
    shown.videoKbps = videoKbps_->value();
    const QSize size = sizeCombo_->currentData().toSize();
    shown.ancho = size.width();
    shown.alto = size.height();
    shown.codificadorDeObs = sameAsObsCheck_ && sameAsObsCheck_->isChecked();
    if (audioKbps_)
        shown.audioKbps = audioKbps_->currentData().toInt();
    if (audioCodec_)
        shown.codificadorAudio = audioCodec_->currentText();
    if (obs_data_t* settings = encoderForm_ ? encoderForm_->settingsObject() : nullptr) {
        const char* json = obs_data_get_json(settings);
        shown.ajustesCodificador = json ? QString::fromUtf8(json) : QString();
    }
    // What decides whether a start would borrow OBS's own encoders: what is sent, the audio
    // delay, and whether any destination is sent as MPEG-TS.
    if (sourceCombo_ && sourceCombo_->currentIndex() >= 0)
        shown.fuente = sourceCombo_->currentData().toString();
    if (followCheck_)
        shown.seguirObs = followCheck_->isChecked();
    shown.equivalencias = matchResult();
    if (audioDelay_)
        shown.retrasoAudioMs = audioDelay_->value();
    for (const DestRowWidget* row : destRows_) {
        DestConfig dest;
        dest.url = row->addressEdit()->text().trimmed();
        if (!dest.url.isEmpty())
            shown.destinos.append(dest);
    }
    return shown;
}

void EntryDialog::refreshEncodes() {
    if (!encodesLabel_)
        return;
    for (DestRowWidget* row : destRows_)
        row->refreshServiceFit();
    // The entry as the fields stand, with a destination per row that names a place.
    EntryConfig shown = encodeAsShown();
    shown.destinos.clear();
    QHash<QString, QString> names;
    for (const DestRowWidget* row : destRows_) {
        const QString address = row->addressEdit()->text();
        if (address.trimmed().isEmpty())
            continue;
        DestConfig dest;
        dest.id = QString::number(shown.destinos.size());
        // The relay sends what the entry encodes, as it is.
        dest.envio = row->sendsThroughRelay() ? SendChoice{} : row->sendChoice();
        names.insert(dest.id, destinationDisplayName(address));
        shown.destinos.append(dest);
    }
    const auto [width, height] = pictureSizeOf(shown);
    const QString text = encodesSummary(shown, names, width, height);
    encodesLabel_->setText(text);
    encodesLabel_->setVisible(!text.isEmpty());
}

void EntryDialog::rebuildEncoderForm(const QString& json) {
    encoderForm_->rebuild(encoderCombo_->currentData().toString(), videoKbps_->value(), json);
}

void EntryDialog::selectAudioCodec(QComboBox* combo, const QString& text) {
    QString wanted = text.trimmed();
    if (wanted.isEmpty())
        wanted = QStringLiteral("aac");
    int index = -1;
    for (int i = 0; i < combo->count() && index < 0; ++i)
        if (combo->itemText(i).compare(wanted, Qt::CaseInsensitive) == 0)
            index = i;
    if (index < 0) {
        combo->addItem(wanted);
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}

} // namespace relaycast
