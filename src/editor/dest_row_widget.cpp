#include "editor/dest_row_widget.h"

#include "address/address.h"
#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "module/ui_text.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

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

    connect(templateCombo_, qOverload<int>(&QComboBox::activated), this,
            &DestRowWidget::onTemplateActivated);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::onAddressChanged);
    connect(removeButton_, &QToolButton::clicked, this, [this] {
        if (removeCallback_)
            removeCallback_(this);
    });

    preselectTemplate();
    refreshKind();
}

DestRowWidget::~DestRowWidget() = default;

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
    hintLabel_->setText(p.hint);
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
