#pragma once

#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

namespace relaycast {

// The host's scene names in the front end's order; unnamed scenes skipped.
QStringList listSceneNames();
// Input sources that are not groups, in the host's enumeration order; never scenes.
QStringList listInputSourceNames();
// "🎬 Escena: name" for a host scene, else "🎥 Fuente: name" (also when nothing has the name).
QString describeSource(const QString& name);
// Modal question with an accept button of `acceptText` and "Cancelar"; true only on accept.
bool askConfirmation(QWidget* parent, const QString& title, const QString& text,
                     const QString& acceptText);
// Modal warning titled "Relaycast" with one "Entendido" button.
void showWarning(QWidget* parent, const QString& text);
// A word-wrapped, greyed hint label.
QLabel* makeHintLabel(const QString& text, QWidget* parent = nullptr);
// An address as the interface shows it: trimmed, cut at the first "?" followed by "?…".
QString maskAddress(const QString& address);
// How a destination is named beside its entry: the host of its address, else the masked address.
// Never its key.
QString destinationDisplayName(const QString& address);

} // namespace relaycast
