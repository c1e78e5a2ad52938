#include "editor/dest_row_widget.h"

#include "address/address.h"
#include "editor/input_widgets.h"
#include "editor/send_choice_text.h"
#include "editor/themed_icon.h"
#include "module/ui_text.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSize>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace relaycast {

namespace {

// Shorter addresses ("rtmp://", "srt://", "rist://") are bare schemes, not a platform.
constexpr int kMinPreselectLength = 9;

} // namespace

const QList<DestinationTemplate>& destinationTemplates() {
    static const QList<DestinationTemplate> templates{
        {"YouTube", "rtmp://a.rtmp.youtube.com/live2"},
        {"Twitch", "rtmp://live.twitch.tv/app"},
        {"Facebook Live", "rtmps://live-api-s.facebook.com:443/rtmp/"},
        {"RTMP personalizado", "rtmp://"},
        {"SRT personalizado", "srt://"},
        {"RIST personalizado", "rist://"},
    };
    return templates;
}

DestRowWidget::DestRowWidget(const DestConfig& dest, QWidget* parent, RemoveCallback removeCallback)
    : QFrame(parent), source_(dest), removeCallback_(std::move(removeCallback)) {
    setFrameShape(QFrame::StyledPanel);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 0);

    templateCombo_ = new NoWheelComboBox(this);
    templateCombo_->addItem(uiText("Plantilla de destino…"));
    for (const DestinationTemplate& t : destinationTemplates())
        templateCombo_->addItem(uiText(t.name), QString::fromUtf8(t.address));
    templateCombo_->setToolTip(uiText("Rellena la dirección de la plataforma; después solo "
                                      "tienes que pegar tu clave de emisión"));

    removeButton_ = new QToolButton(this);
    setIconText(removeButton_, QStringLiteral("✖"));
    removeButton_->setAutoRaise(true);
    removeButton_->setToolTip(uiText("Quitar este destino"));

    addressEdit_ = new QLineEdit(dest.url, this);
    addressEdit_->setPlaceholderText(addressFieldPlaceholder());

    keyEdit_ = new QLineEdit(dest.clave, this);
    keyEdit_->setEchoMode(QLineEdit::Password);

    passphraseEdit_ = new QLineEdit(dest.contrasena, this);
    passphraseEdit_->setEchoMode(QLineEdit::Password);
    passphraseEdit_->setPlaceholderText(passphrasePlaceholder());

    hintLabel_ = new QLabel(this);
    hintLabel_->setEnabled(false);
    hintLabel_->setWordWrap(true);

    queryWarning_ = new QLabel(
        uiText("OBS escribe esta dirección tal cual en su registro, también lo que va tras «?». "
               "Pon la clave en su campo."),
        this);
    queryWarning_->setWordWrap(true);
    queryWarning_->setStyleSheet(QStringLiteral("color: #e0a030;"));
    queryWarning_->hide();

    grid->addWidget(templateCombo_, 0, 0, 1, 2);
    grid->addWidget(removeButton_, 0, 2);
    grid->addWidget(addressEdit_, 1, 0, 1, 3);
    grid->addWidget(keyEdit_, 2, 0);
    grid->addWidget(passphraseEdit_, 2, 1);
    grid->addWidget(hintLabel_, 3, 0, 1, 3);
    grid->addWidget(queryWarning_, 4, 0, 1, 3);

    sendToggle_ = new QToolButton(this);
    sendToggle_->setText(uiText("Avanzado…"));
    sendToggle_->setToolTip(uiText("Calidad, tamaño, audio y retraso propios de este destino"));
    sendToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sendToggle_->setAutoRaise(true);
    sendToggle_->setCheckable(true);
    grid->addWidget(sendToggle_, 5, 0, 1, 3, Qt::AlignLeft);
    sendPanel_ = buildSendPanel();
    grid->addWidget(sendPanel_, 6, 0, 1, 3);
    connect(sendToggle_, &QToolButton::toggled, this, [this](bool open) {
        sendPanel_->setVisible(open);
        sendToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    // A destination that takes something of its own shows it at once.
    const bool ownChoice = !dest.envio.isDefault();
    sendToggle_->setChecked(ownChoice);
    sendPanel_->setVisible(ownChoice);
    sendToggle_->setArrowType(ownChoice ? Qt::DownArrow : Qt::RightArrow);

    connect(templateCombo_, qOverload<int>(&QComboBox::activated), this,
            &DestRowWidget::onTemplateActivated);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::onAddressChanged);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::sendChanged);
    connect(removeButton_, &QToolButton::clicked, this, [this] {
        if (removeCallback_)
            removeCallback_(this);
    });

    preselectTemplate();
    refreshKind();
}

DestRowWidget::~DestRowWidget() = default;

QWidget* DestRowWidget::buildSendPanel() {
    const SendChoice& choice = source_.envio;
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);

    capSpin_ = new NoWheelSpinBox(panel);
    capSpin_->setRange(0, kMaxVideoKbps);
    capSpin_->setSingleStep(500);
    capSpin_->setSuffix(QStringLiteral(" kbps"));
    capSpin_->setSpecialValueText(uiText("Como la entrada"));
    capSpin_->setValue(choice.videoKbpsMax);

    ownSizeCombo_ = new NoWheelComboBox(panel);
    ownSizeCombo_->addItem(uiText("Como la entrada"), QSize(0, 0));
    for (const OwnSizePreset& preset : ownSizePresets())
        ownSizeCombo_->addItem(QStringLiteral("%1 (%2×%3)")
                                   .arg(QString::fromLatin1(preset.name))
                                   .arg(preset.width)
                                   .arg(preset.height),
                               QSize(preset.width, preset.height));
    const QSize stored(choice.ancho, choice.alto);
    int size = ownSizeCombo_->findData(stored);
    if (size < 0 && choice.ancho > 0 && choice.alto > 0) {
        ownSizeCombo_->addItem(uiText("%1×%2 (personalizado)").arg(choice.ancho).arg(choice.alto),
                               stored);
        size = ownSizeCombo_->count() - 1;
    }
    ownSizeCombo_->setCurrentIndex(std::max(size, 0));

    audioTrackCombo_ = new NoWheelComboBox(panel);
    audioTrackCombo_->addItem(uiText("Mezcla propia de la entrada"), 0);
    for (int32_t track = 1; track <= kMaxAudioTrack; ++track)
        audioTrackCombo_->addItem(uiText("Pista %1 de OBS").arg(track), track);
    audioTrackCombo_->setCurrentIndex(std::max(audioTrackCombo_->findData(choice.pistaAudio), 0));

    delaySpin_ = new NoWheelSpinBox(panel);
    delaySpin_->setRange(0, kMaxStreamDelaySecs);
    delaySpin_->setSuffix(QStringLiteral(" s"));
    delaySpin_->setSpecialValueText(uiText("Sin retraso"));
    delaySpin_->setValue(choice.retrasoSegs);

    const std::pair<const char*, QWidget*> rows[] = {
        {"Calidad máxima de vídeo:", capSpin_},
        {"Tamaño de imagen:", ownSizeCombo_},
        {"Audio:", audioTrackCombo_},
        {"Retraso de la emisión:", delaySpin_},
    };
    int at = 0;
    for (const auto& [label, field] : rows) {
        grid->addWidget(new QLabel(uiText(label), panel), at, 0);
        grid->addWidget(field, at++, 1);
    }

    connect(capSpin_, qOverload<int>(&QSpinBox::valueChanged), this, &DestRowWidget::sendChanged);
    connect(delaySpin_, qOverload<int>(&QSpinBox::valueChanged), this, &DestRowWidget::sendChanged);
    for (QComboBox* combo :
         {static_cast<QComboBox*>(ownSizeCombo_), static_cast<QComboBox*>(audioTrackCombo_)})
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &DestRowWidget::sendChanged);
    return panel;
}

SendChoice DestRowWidget::sendChoice() const {
    SendChoice choice;
    choice.videoKbpsMax = capSpin_->value();
    const QSize size = ownSizeCombo_->currentData().toSize();
    choice.ancho = size.width();
    choice.alto = size.height();
    choice.pistaAudio = audioTrackCombo_->currentData().toInt();
    choice.retrasoSegs = delaySpin_->value();
    return choice;
}

void DestRowWidget::preselectTemplate() {
    for (int i = 1; i < templateCombo_->count(); ++i) {
        const QString address = templateCombo_->itemData(i).toString();
        if (address.size() >= kMinPreselectLength && address == source_.url) {
            templateCombo_->setCurrentIndex(i);
            return;
        }
    }
}

void DestRowWidget::onTemplateActivated(int index) {
    if (index <= 0)
        return;
    applyingTemplate_ = true;
    addressEdit_->setText(templateCombo_->itemData(index).toString());
    applyingTemplate_ = false;
    keyEdit_->setFocus();
}

void DestRowWidget::onAddressChanged(const QString& text) {
    // The menu names a template only while the address is exactly that template's address.
    const int current = templateCombo_->currentIndex();
    if (!applyingTemplate_ && current > 0 && text != templateCombo_->itemData(current).toString())
        templateCombo_->setCurrentIndex(0);
    refreshKind();
}

void DestRowWidget::refreshKind() {
    const QString address = addressEdit_->text();
    const AddressKind kind = classifyAddress(address);
    const AddressPresentation p = addressPresentation(kind);
    const QString note = rtmpsAddressNote(address.trimmed());
    hintLabel_->setText(note.isEmpty() ? p.hint : p.hint + QStringLiteral(". ") + note);
    // A saved key this computer cannot open stays saved until a new one is typed here.
    const QString unopened =
        uiText("Clave guardada que no se puede abrir aquí: escríbela de nuevo");
    const bool keyUnopened = !source_.storedClave.stored.isEmpty() && !source_.storedClave.opened;
    keyEdit_->setPlaceholderText(keyUnopened ? unopened : p.keyPlaceholder);
    if (!source_.storedContrasena.stored.isEmpty() && !source_.storedContrasena.opened)
        passphraseEdit_->setPlaceholderText(unopened);
    passphraseEdit_->setVisible(p.showPassphrase);

    const bool hasQuery = address.contains(QLatin1Char('?'));
    addressEdit_->setEchoMode(hasQuery && !secretsVisible_ ? QLineEdit::Password
                                                           : QLineEdit::Normal);
    // The host's RTMP and MPEG-TS (SRT, RIST) outputs quote the address in its log, query
    // included.
    queryWarning_->setVisible(hasQuery && kind != AddressKind::Invalid);
}

QString DestRowWidget::validationMessage(int number) const {
    return validateDestinationAddress(addressEdit_->text().trimmed(), number, keyEdit_->text());
}

void DestRowWidget::setSecretsVisible(bool visible) {
    secretsVisible_ = visible;
    const QLineEdit::EchoMode mode = visible ? QLineEdit::Normal : QLineEdit::Password;
    keyEdit_->setEchoMode(mode);
    passphraseEdit_->setEchoMode(mode);
    refreshKind();
}

} // namespace relaycast
