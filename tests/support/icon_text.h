#pragma once

#include <QString>

class QAbstractButton;
class QComboBox;
class QLabel;
class QWidget;

namespace relaycast {
class ElidedLabel;
}

namespace relaycast::test {

// What a widget shows, written back as the interface text it comes from: the sign its icon is
// drawn for, a space and its words ("▶ Emitir" for the start icon beside "Emitir"; "👁" for the
// preview icon alone). Without an icon, just the words.
QString shownText(const QAbstractButton* button);
QString shownText(const QLabel* label);
QString shownItemText(const QComboBox* combo, int index);
// The same for a label that cuts its text: its whole text.
QString shownFullText(const ElidedLabel* label);

} // namespace relaycast::test
