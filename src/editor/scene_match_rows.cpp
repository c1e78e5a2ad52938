// The scene equivalences box of the entry dialog: one row per pair of a live host scene and
// what the entry sends instead.

#include "editor/entry_dialog.h"

#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "editor/ui_helpers.h"
#include "module/ui_text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace relaycast {

namespace {

NoWheelComboBox* makeMatchCombo(QWidget* parent) {
    auto* combo = new NoWheelComboBox(parent);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(6);
    combo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return combo;
}

} // namespace

QWidget* EntryDialog::buildMatchBox() {
    matchBox_ = new QWidget;
    auto* column = new QVBoxLayout(matchBox_);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(4);
    column->addWidget(makeHintLabel(
        uiText("Equivalencias: cuando OBS tenga la escena de la izquierda, esta entrada emite la "
               "de la derecha. Si una escena no está en la lista, esta entrada emite esa misma "
               "escena."),
        matchBox_));
    matchRowsLayout_ = new QVBoxLayout;
    matchRowsLayout_->setSpacing(4);
    column->addLayout(matchRowsLayout_);
    addMatchButton_ = new QPushButton(matchBox_);
    setIconText(addMatchButton_, uiText("＋ Añadir equivalencia"));
    connect(addMatchButton_, &QPushButton::clicked, this,
            [this] { addMatchRow(QString(), QString()); });
    column->addWidget(addMatchButton_);

    // The stored map is ordered by live scene name.
    for (auto it = original_.equivalencias.cbegin(); it != original_.equivalencias.cend(); ++it)
        addMatchRow(it.key(), it.value());
    return matchBox_;
}

void EntryDialog::addMatchRow(const QString& sceneName, const QString& targetName) {
    MatchRow match;
    match.row = new QWidget(matchBox_);
    auto* line = new QHBoxLayout(match.row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);

    match.left = makeMatchCombo(match.row);
    match.right = makeMatchCombo(match.row);
    const QStringList scenes = listSceneNames();
    for (const QString& name : scenes) {
        match.left->addItem(name, name);
        addIconItem(match.right, QStringLiteral("🎬 ") + name, name);
    }
    for (const QString& name : listInputSourceNames())
        addIconItem(match.right, QStringLiteral("🎥 ") + name, name);
    selectOrMarkMissing(match.left, sceneName);
    selectOrMarkMissing(match.right, targetName);

    auto* remove = new QToolButton(match.row);
    setIconText(remove, QStringLiteral("✖"));
    remove->setAutoRaise(true);
    remove->setToolTip(uiText("Quitar esta equivalencia"));
    QWidget* rowWidget = match.row;
    connect(remove, &QToolButton::clicked, this, [this, rowWidget] { removeMatchRow(rowWidget); });

    line->addWidget(match.left, 1);
    line->addWidget(new QLabel(QStringLiteral("→"), match.row));
    line->addWidget(match.right, 1);
    line->addWidget(remove);

    matchRowsLayout_->addWidget(match.row);
    matchRows_.append(match);
}

void EntryDialog::removeMatchRow(QWidget* row) {
    for (qsizetype i = 0; i < matchRows_.size(); ++i) {
        if (matchRows_[i].row == row) {
            matchRows_.removeAt(i);
            break;
        }
    }
    row->hide();
    row->deleteLater();
}

void EntryDialog::selectOrMarkMissing(QComboBox* combo, const QString& name) {
    if (name.isEmpty())
        return;
    int index = combo->findData(name, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        addIconItem(combo, QStringLiteral("⚠ ") + name + uiText(" (ya no existe)"), name);
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}

SceneMatchMap EntryDialog::matchResult() const {
    // Rows that cannot form a pair are dropped; a later row for the same live scene wins.
    SceneMatchMap pairs;
    for (const MatchRow& match : matchRows_) {
        const QString left = match.left->currentData().toString();
        const QString right = match.right->currentData().toString();
        if (!left.isEmpty() && !right.isEmpty() && left != right)
            pairs.insert(left, right);
    }
    return pairs;
}

} // namespace relaycast
