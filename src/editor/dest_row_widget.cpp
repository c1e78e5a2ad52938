#include "editor/dest_row_widget.h"

#include "address/address.h"
#include "editor/input_widgets.h"
#include "editor/relay_refusal.h"
#include "editor/send_choice_text.h"
#include "editor/themed_icon.h"
#include "module/ui_text.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSize>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace relaycast {

namespace {

// The menu's first items: an address of the user's own, by the scheme it starts with.
struct CustomScheme {
    const char* name; // passed through uiText
    const char* address;
};
constexpr CustomScheme kCustomSchemes[] = {
    {"RTMP personalizado", "rtmp://"},
    {"SRT personalizado", "srt://"},
    {"RIST personalizado", "rist://"},
};
// Item data: a service's name under this role, a custom scheme's address under the default.
constexpr int kServiceRole = Qt::UserRole + 1;

} // namespace

DestRowWidget::DestRowWidget(const DestConfig& dest, QWidget* parent, RemoveCallback removeCallback,
                             ServiceCatalog services)
    : QFrame(parent), source_(dest), services_(std::move(services)),
      removeCallback_(std::move(removeCallback)) {
    setFrameShape(QFrame::StyledPanel);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 0);

    serviceCombo_ = new NoWheelComboBox(this);
    fillServiceMenu();
    serviceCombo_->setToolTip(uiText("Rellena la dirección de la plataforma; después solo "
                                     "tienes que pegar tu clave de emisión"));
    serverCombo_ = new NoWheelComboBox(this);
    serverCombo_->setToolTip(uiText("Servidor de la plataforma"));
    keyLink_ = new QLabel(this);
    keyLink_->setOpenExternalLinks(true);
    keyLink_->setTextFormat(Qt::RichText);
    fitLabel_ = new QLabel(this);
    fitLabel_->setWordWrap(true);

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

    grid->addWidget(serviceCombo_, 0, 0);
    grid->addWidget(serverCombo_, 0, 1);
    grid->addWidget(removeButton_, 0, 2);
    grid->addWidget(addressEdit_, 1, 0, 1, 3);
    grid->addWidget(keyEdit_, 2, 0);
    grid->addWidget(passphraseEdit_, 2, 1);
    grid->addWidget(keyLink_, 2, 2);
    grid->addWidget(hintLabel_, 3, 0, 1, 3);
    grid->addWidget(queryWarning_, 4, 0, 1, 3);
    grid->addWidget(fitLabel_, 7, 0, 1, 3);

    sendToggle_ = new QToolButton(this);
    sendToggle_->setText(uiText("Avanzado…"));
    sendToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sendToggle_->setAutoRaise(true);
    sendToggle_->setCheckable(true);
    relayCheck_ = new QCheckBox(uiText("Por el relé"), this);
    relayCheck_->setChecked(dest.porRelevo);
    // One line across the row, so that neither widens the columns above.
    auto* sendLine = new QHBoxLayout;
    sendLine->setContentsMargins(0, 0, 0, 0);
    sendLine->addWidget(sendToggle_);
    sendLine->addStretch();
    sendLine->addWidget(relayCheck_);
    grid->addLayout(sendLine, 5, 0, 1, 3);
    relayNote_ = new QLabel(this);
    relayNote_->setWordWrap(true);
    relayNote_->setStyleSheet(QStringLiteral("color: #e05040;"));
    relayNote_->hide();
    grid->addWidget(relayNote_, 8, 0, 1, 3);
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

    connect(serviceCombo_, qOverload<int>(&QComboBox::activated), this,
            &DestRowWidget::onServiceActivated);
    connect(serverCombo_, qOverload<int>(&QComboBox::activated), this,
            &DestRowWidget::onServerActivated);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::onAddressChanged);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::sendChanged);
    connect(addressEdit_, &QLineEdit::textChanged, this, &DestRowWidget::relayChanged);
    connect(keyEdit_, &QLineEdit::textChanged, this, &DestRowWidget::relayChanged);
    connect(relayCheck_, &QCheckBox::toggled, this, &DestRowWidget::relayChanged);
    connect(this, &DestRowWidget::relayChanged, this, &DestRowWidget::refreshRelay);
    connect(removeButton_, &QToolButton::clicked, this, [this] {
        if (removeCallback_)
            removeCallback_(this);
    });

    // A stored service first (its address may be one the list no longer has), else the one
    // its address belongs to.
    const StreamingService* stored = services_.find(dest.servicio);
    const ServiceMatch match = findServiceForAddress(services_, dest.url, dest.servicio);
    if (stored)
        showService(stored, match.service == stored ? match.server : -1);
    else
        showService(match.service, match.server);
    refreshKind();
    refreshRelay();
}

DestRowWidget::~DestRowWidget() = default;

void DestRowWidget::setRelayAvailable(bool available) {
    relayAvailable_ = available;
    refreshRelay();
}

bool DestRowWidget::relayMarked() const {
    return relayCheck_->isChecked();
}

bool DestRowWidget::sendsThroughRelay() const {
    return relayAvailable_ && relayMarked();
}

QString DestRowWidget::relayRefusal() const {
    return relayRefusalOf(addressEdit_->text(), keyEdit_->text());
}

void DestRowWidget::refreshRelay() {
    const QString refusal = relayRefusal();
    // The relay only ever speaks RTMP and SRT: a RIST destination cannot be marked at all.
    const bool rist = classifyAddress(addressEdit_->text()) == AddressKind::RIST;
    if (rist)
        relayCheck_->setChecked(false);
    relayCheck_->setEnabled(relayAvailable_ && !rist);
    relayCheck_->setToolTip(rist              ? refusal
                            : relayAvailable_ ? uiText("Lo envía tu relé en lugar de OBS")
                                              : uiText("Escribe antes la dirección del relé en "
                                                       "«Relé propio»."));
    // The relay gets the entry's one encode and passes it on as it is.
    const bool relayed = sendsThroughRelay();
    sendToggle_->setEnabled(!relayed);
    sendPanel_->setEnabled(!relayed);
    sendToggle_->setToolTip(relayed ? uiText("El relé envía la codificación propia de la entrada: "
                                             "lo de «Avanzado…» no se aplica a este destino.")
                                    : uiText("Calidad, tamaño, audio y retraso propios de este "
                                             "destino"));
    relayNote_->setText(refusal);
    relayNote_->setVisible(relayed && !refusal.isEmpty());
}

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

void DestRowWidget::fillServiceMenu() {
    serviceCombo_->addItem(uiText("Dirección propia…"));
    for (const CustomScheme& scheme : kCustomSchemes)
        serviceCombo_->addItem(uiText(scheme.name), QString::fromLatin1(scheme.address));
    // The host lists its common services first, then all of them by name.
    QList<const StreamingService*> common;
    QList<const StreamingService*> others;
    for (const StreamingService& service : services_.services)
        (service.common ? common : others).append(&service);
    std::sort(others.begin(), others.end(), [](const auto* a, const auto* b) {
        return a->name.compare(b->name, Qt::CaseInsensitive) < 0;
    });
    for (const auto& group : {common, others}) {
        if (group.isEmpty())
            continue;
        serviceCombo_->insertSeparator(serviceCombo_->count());
        for (const StreamingService* service : group) {
            serviceCombo_->addItem(service->name);
            serviceCombo_->setItemData(serviceCombo_->count() - 1, service->name, kServiceRole);
        }
    }
}

const StreamingService* DestRowWidget::currentService() const {
    return services_.find(serviceCombo_->currentData(kServiceRole).toString());
}

QString DestRowWidget::serviceName() const {
    const StreamingService* service = currentService();
    return service ? service->name : QString();
}

QString DestRowWidget::serviceToStore() const {
    return serviceTouched_ ? serviceName() : source_.servicio;
}

void DestRowWidget::showService(const StreamingService* service, int server) {
    if (service != currentService()) {
        const int index = service ? serviceCombo_->findData(service->name, kServiceRole) : 0;
        serviceCombo_->setCurrentIndex(std::max(index, 0));
        serverCombo_->clear();
        if (service)
            for (const ServiceServer& s : service->servers)
                serverCombo_->addItem(s.name, s.url);
    }
    serverCombo_->setCurrentIndex(service ? server : -1);
    serverCombo_->setVisible(service != nullptr);
    const bool link = service && !service->streamKeyLink.isEmpty();
    keyLink_->setText(link ? QStringLiteral("<a href=\"%1\">%2</a>")
                                 .arg(service->streamKeyLink.toHtmlEscaped(),
                                      uiText("Obtener la clave").toHtmlEscaped())
                           : QString());
    keyLink_->setVisible(link);
}

void DestRowWidget::onServiceActivated(int index) {
    if (index < 0)
        return;
    serviceTouched_ = true;
    if (index == 0) {
        // An address of the user's own: the one typed stays, the service goes.
        showService(nullptr, -1);
        refreshServiceFit();
        return;
    }
    applyingTemplate_ = true;
    if (const StreamingService* service = currentService()) {
        const int server = preferredServer(*service);
        serverCombo_->clear();
        for (const ServiceServer& s : service->servers)
            serverCombo_->addItem(s.name, s.url);
        showService(service, server);
        addressEdit_->setText(service->servers[server].url);
        fitsOnItsOwn_ = true;
    } else {
        addressEdit_->setText(serviceCombo_->itemData(index).toString());
        showService(nullptr, -1);
        serviceCombo_->setCurrentIndex(index);
    }
    applyingTemplate_ = false;
    keyEdit_->setFocus();
    refreshServiceFit();
}

void DestRowWidget::onServerActivated(int index) {
    if (index < 0)
        return;
    serviceTouched_ = true;
    applyingTemplate_ = true;
    addressEdit_->setText(serverCombo_->itemData(index).toString());
    applyingTemplate_ = false;
    fitsOnItsOwn_ = true;
    refreshServiceFit();
}

void DestRowWidget::onAddressChanged(const QString& text) {
    if (!applyingTemplate_) {
        serviceTouched_ = true;
        // Typing names the service the address belongs to; a custom scheme's item only stays
        // while the address is just that scheme.
        const ServiceMatch match = findServiceForAddress(services_, text, serviceName());
        if (match.service) {
            // Only a service new to the row is a new choice to fit.
            fitsOnItsOwn_ = fitsOnItsOwn_ || match.service != currentService();
            showService(match.service, match.server);
        } else if (currentService() || text != serviceCombo_->currentData().toString()) {
            showService(nullptr, -1);
        }
        refreshServiceFit();
    }
    refreshKind();
}

void DestRowWidget::setSentStreamOf(SentStreamOf sentStreamOf) {
    sentStreamOf_ = std::move(sentStreamOf);
    refreshServiceFit();
}

void DestRowWidget::refreshServiceFit() {
    const StreamingService* service = currentService();
    if (!service || !sentStreamOf_) {
        fitLabel_->clear();
        fitLabel_->hide();
        return;
    }
    if (!serviceTouched_ && source_.servicio.isEmpty()) {
        // Stored without a service (before services were remembered, or an address of the
        // user's own on purpose): nothing of the service is checked at its start.
        fitLabel_->setText(uiText("Es una dirección de %1: elígelo en la lista para que se "
                                  "apliquen sus límites.")
                               .arg(service->name)
                               .toHtmlEscaped());
        fitLabel_->show();
        return;
    }
    ServiceFit fit = fitToService(*service, sentStreamOf_(sendChoice()));
    QStringList lines;
    // Once, at the first check after a choice: later ones leave what the user set.
    const bool fitNow = std::exchange(fitsOnItsOwn_, false);
    if (fitNow && (fit.capKbps > 0 || fit.size.width > 0)) {
        // Set where the user sees and changes it; the next check then finds it within.
        if (fit.capKbps > 0)
            capSpin_->setValue(fit.capKbps);
        if (fit.size.width > 0) {
            const QSize size(int(fit.size.width), int(fit.size.height));
            if (ownSizeCombo_->findData(size) < 0)
                ownSizeCombo_->addItem(
                    uiText("%1×%2 (personalizado)").arg(size.width()).arg(size.height()), size);
            ownSizeCombo_->setCurrentIndex(ownSizeCombo_->findData(size));
        }
        sendToggle_->setChecked(true);
        lines << uiText("Ajustado a lo que acepta %1.").arg(service->name).toHtmlEscaped();
        fit = fitToService(*service, sentStreamOf_(sendChoice()));
    }
    if (fit.capKbps > 0)
        lines << uiText("%1 acepta como máximo %2 kbps de vídeo: pon ese tope en «Avanzado…».")
                     .arg(service->name, QString::number(fit.capKbps))
                     .toHtmlEscaped();
    if (fit.size.width > 0)
        lines << uiText("%1 no acepta este tamaño: elige %2×%3 en «Avanzado…».")
                     .arg(service->name, QString::number(fit.size.width),
                          QString::number(fit.size.height))
                     .toHtmlEscaped();
    for (const QString& refusal : fit.refusals)
        lines << QStringLiteral("<span style=\"color:#e05040\">%1</span>")
                     .arg(refusal.toHtmlEscaped());
    for (const QString& note : fit.notes)
        lines << note.toHtmlEscaped();
    fitLabel_->setText(lines.join(QStringLiteral("<br>")));
    fitLabel_->setVisible(!lines.isEmpty());
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

    // A query that is one of the service's own servers (a backup ingest's "?backup=1") holds
    // nothing of the user's.
    const StreamingService* service = currentService();
    const bool hasQuery = address.contains(QLatin1Char('?')) &&
                          !(service && findServer(*service, address.trimmed()) >= 0);
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
