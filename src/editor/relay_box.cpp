#include "editor/relay_box.h"

#include "editor/ui_helpers.h"
#include "module/ui_text.h"
#include "relay/entry_relay.h"
#include "relay/relay_config.h"

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace relaycast {

RelayBox::RelayBox(const RelayConfig& relay, bool liveLocked, QWidget* parent)
    : QWidget(parent), source_(relay), written_(relay.escrita) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    toggle_ = new QToolButton(this);
    toggle_->setText(uiText(" Relé propio"));
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setAutoRaise(true);
    toggle_->setCheckable(true);
    column->addWidget(toggle_, 0, Qt::AlignLeft);

    panel_ = new QWidget(this);
    auto* panelColumn = new QVBoxLayout(panel_);
    panelColumn->setContentsMargins(0, 0, 0, 0);
    panelColumn->addWidget(makeHintLabel(
        uiText("OBS envía una sola emisión a tu servidor nginx con el módulo RTMP, y él la "
               "reenvía a cada destino marcado «Por el relé»."),
        panel_));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    panelColumn->addLayout(form);

    ingest_ = new QLineEdit(relay.entrada, panel_);
    ingest_->setPlaceholderText(uiText("rtmp://servidor[:puerto]/aplicacion"));
    form->addRow(uiText("Dirección del relé:"), ingest_);
    stats_ = new QLineEdit(relay.estadisticas, panel_);
    stats_->setPlaceholderText(uiText("https://servidor:puerto/ruta"));
    form->addRow(uiText("Página de estadísticas:"), stats_);
    allow_ = new QLineEdit(relay.permitirDesde, panel_);
    allow_->setPlaceholderText(uiText("Tu dirección IP; vacía: cualquiera"));
    form->addRow(uiText("Dirección permitida (opcional):"), allow_);

    auto* secretRow = new QHBoxLayout;
    secretRow->setContentsMargins(0, 0, 0, 0);
    secret_ = new QLineEdit(relay.secreto, panel_);
    secret_->setReadOnly(true);
    secret_->setEchoMode(QLineEdit::Password);
    secretRow->addWidget(secret_, 1);
    newSecret_ = new QPushButton(uiText("Nuevo secreto"), panel_);
    newSecret_->setToolTip(uiText("El relé solo acepta la emisión que llega con este secreto. "
                                  "Con uno nuevo hay que escribir de nuevo su configuración."));
    secretRow->addWidget(newSecret_);
    form->addRow(uiText("Secreto:"), secretRow);

    error_ = new QLabel(panel_);
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #e05040;"));
    panelColumn->addWidget(error_);
    write_ = new QPushButton(uiText("Escribir la configuración del relé…"), panel_);
    panelColumn->addWidget(write_, 0, Qt::AlignLeft);
    column->addWidget(panel_);

    // Outside the panel: it matters with the section closed too.
    stale_ = new QLabel(
        uiText("La configuración escrita del relé ya no coincide con los destinos: escríbela de "
               "nuevo."),
        this);
    stale_->setWordWrap(true);
    stale_->setStyleSheet(QStringLiteral("color: #e0a030;"));
    column->addWidget(stale_);

    connect(toggle_, &QToolButton::toggled, this, [this](bool open) {
        panel_->setVisible(open);
        toggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    // An entry with a relay shows it at once.
    toggle_->setChecked(relay.isSet());
    panel_->setVisible(relay.isSet());
    toggle_->setArrowType(relay.isSet() ? Qt::DownArrow : Qt::RightArrow);

    connect(ingest_, &QLineEdit::textChanged, this, &RelayBox::onIngestChanged);
    for (QLineEdit* edit : {stats_, allow_, secret_})
        connect(edit, &QLineEdit::textChanged, this, &RelayBox::relayChanged);
    connect(newSecret_, &QPushButton::clicked, this,
            [this] { secret_->setText(newRelaySecret()); });
    connect(write_, &QPushButton::clicked, this, &RelayBox::writeFiles);
    connect(this, &RelayBox::relayChanged, this, &RelayBox::refresh);

    // What the relay is sent to changes only with the entry stopped.
    if (liveLocked)
        for (QWidget* w : std::initializer_list<QWidget*>{ingest_, stats_, allow_, newSecret_})
            w->setEnabled(false);
    refresh();
}

RelayBox::~RelayBox() = default;

void RelayBox::setEntryOf(EntryOf entryOf) {
    entryOf_ = std::move(entryOf);
    refresh();
}

RelayConfig RelayBox::result() const {
    RelayConfig relay = source_;
    relay.entrada = ingest_->text().trimmed();
    relay.estadisticas = stats_->text().trimmed();
    relay.permitirDesde = allow_->text().trimmed();
    relay.secreto = secret_->text();
    relay.escrita = written_;
    return relay;
}

bool RelayBox::hasAddress() const {
    return !ingest_->text().trimmed().isEmpty();
}

QString RelayBox::error() const {
    if (!hasAddress() || !entryOf_)
        return {};
    return relayConfigurationOf(entryOf_()).error;
}

void RelayBox::refresh() {
    const QString problem = error();
    error_->setText(problem);
    error_->setVisible(!problem.isEmpty());
    write_->setEnabled(hasAddress() && problem.isEmpty() && entryOf_ != nullptr);
    stale_->setVisible(entryOf_ && relayConfigurationStale(entryOf_()));
}

void RelayBox::setSecretVisible(bool visible) {
    secret_->setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password);
}

void RelayBox::onIngestChanged(const QString& text) {
    // Made once the relay is first given an address; kept after that, also when it is cleared.
    if (secret_->text().isEmpty() && source_.storedSecreto.stored.isEmpty() &&
        !text.trimmed().isEmpty())
        secret_->setText(newRelaySecret());
    Q_EMIT relayChanged();
}

void RelayBox::writeFiles() {
    if (!entryOf_ ||
        !askConfirmation(
            this, uiText("Configuración del relé"),
            uiText("Los archivos guardan en texto plano las claves de emisión de las plataformas, "
                   "como debe hacerlo la configuración de cualquier relé. La página de "
                   "estadísticas también las muestra: por eso solo responde en su ruta secreta y "
                   "a la dirección permitida."),
            uiText("Continuar")))
        return;
    const QString folder = QFileDialog::getExistingDirectory(
        this, uiText("Elegir la carpeta de la configuración del relé"), QDir::homePath());
    if (folder.isEmpty())
        return;
    const EntryConfig entry = entryOf_();
    QString failure;
    if (!writeRelayFiles(relayConfigurationOf(entry), folder, &failure)) {
        showWarning(this, uiText("No se pudo escribir la configuración del relé: %1").arg(failure));
        return;
    }
    written_ = relayConfigurationDigest(entry);
    refresh();
    QMessageBox done(
        QMessageBox::Information, QStringLiteral("Relaycast"),
        uiText("La configuración del relé está en %1. Los pasos para instalarla "
               "están en %2.")
            .arg(QDir::toNativeSeparators(folder), QString::fromLatin1(kRelayReadmeFile)),
        QMessageBox::NoButton, this);
    done.addButton(uiText("Entendido"), QMessageBox::AcceptRole);
    done.exec();
}

} // namespace relaycast
