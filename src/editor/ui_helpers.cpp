#include "editor/ui_helpers.h"

#include "engine/host/host_source_lookup.h"
#include "module/host_frontend.h"
#include "module/ui_text.h"

#include <obs.hpp>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace relaycast {

QStringList listSceneNames() {
    QStringList names;
    for (const OBSSource& scene : hostFrontend().scenes()) {
        const char* name = obs_source_get_name(scene);
        if (name && *name)
            names.append(QString::fromUtf8(name));
    }
    return names;
}

QStringList listInputSourceNames() {
    QStringList names;
    obs_enum_sources(
        [](void* param, obs_source_t* source) {
            const char* name = obs_source_get_name(source);
            if (obs_source_get_type(source) == OBS_SOURCE_TYPE_INPUT &&
                !obs_source_is_group(source) && name && *name)
                static_cast<QStringList*>(param)->append(QString::fromUtf8(name));
            return true;
        },
        &names);
    return names;
}

QString describeSource(const QString& name) {
    // A deleted scene is captioned like any missing name, as the cards treat it.
    const OBSSourceAutoRelease source = findHostSource(name);
    if (source && obs_source_get_type(source) == OBS_SOURCE_TYPE_SCENE)
        return uiText("🎬 Escena: ") + name;
    return uiText("🎥 Fuente: ") + name;
}

bool askConfirmation(QWidget* parent, const QString& title, const QString& text,
                     const QString& acceptText) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    box.addButton(uiText("Cancelar"), QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == accept;
}

void showWarning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Relaycast"), text, QMessageBox::NoButton,
                    parent);
    box.addButton(uiText("Entendido"), QMessageBox::AcceptRole);
    box.exec();
}

QLabel* makeHintLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    // Disabled so the style draws it greyed.
    label->setEnabled(false);
    return label;
}

QString maskAddress(const QString& address) {
    const QString trimmed = address.trimmed();
    const int question = trimmed.indexOf(QLatin1Char('?'));
    if (question < 0)
        return trimmed;
    return trimmed.left(question) + QStringLiteral("?…");
}

QString destinationDisplayName(const QString& address) {
    const QString host = QUrl(address.trimmed(), QUrl::TolerantMode).host(QUrl::FullyDecoded);
    return host.isEmpty() ? maskAddress(address) : host;
}

} // namespace relaycast
