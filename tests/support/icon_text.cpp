#include "support/icon_text.h"

#include "editor/input_widgets.h"
#include "editor/themed_icon.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>

namespace relaycast::test {
namespace {

QString withSign(const std::optional<Icon>& icon, const QString& words) {
    if (!icon)
        return words;
    return words.isEmpty() ? iconSign(*icon) : iconSign(*icon) + QLatin1Char(' ') + words;
}

} // namespace

QString shownText(const QAbstractButton* button) {
    return withSign(iconNamed(button->property("relaycastIcon").toString()), button->text());
}

QString shownText(const QLabel* label) {
    return withSign(labelIcon(label), label->text());
}

QString shownItemText(const QComboBox* combo, int index) {
    return withSign(iconNamed(combo->itemData(index, kIconNameRole).toString()),
                    combo->itemText(index));
}

QString shownFullText(const ElidedLabel* label) {
    return withSign(labelIcon(label), label->fullText);
}

} // namespace relaycast::test
