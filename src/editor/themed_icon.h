#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QComboBox;
class QLabel;
class QVariant;

namespace relaycast {

// The small pictures the dock and the editor draw where their texts begin with a pictographic
// sign ("＋", "👁", "▶"...). Many systems have no font for such signs, so each is an SVG
// shipped with the plug-in, drawn in the text colour of the widget that shows it: it follows OBS's
// dark and light themes and greys out with a disabled widget.
enum class Icon {
    Add,
    Preview,
    Delete,
    Edit,
    Start,
    Stop,
    Close,
    Remove,
    Scene,
    Source,
    Follow,
    Warning,
    Update,
    Recovered,
    Lost,
};

// The icon's name, which is also its file name ("add" for add.svg).
QString iconName(Icon icon);
// The sign the icon is drawn for ("＋" for Add).
QString iconSign(Icon icon);
// The icon of a name given by iconName, if any.
std::optional<Icon> iconNamed(const QString& name);

// An interface text split into the icon of its leading sign and the words after it. A text
// without a leading sign comes back whole and without an icon.
struct IconText {
    std::optional<Icon> icon;
    QString text;
};
IconText splitIconText(const QString& text);

// The text with every sign (and the space after it) taken out, for sentences that name a
// button as it now reads: "Pulsa «▶ Emitir»" becomes "Pulsa «Emitir»".
QString withoutSigns(const QString& text);

// `icon` drawn at `size` device pixels in `color`.
QPixmap iconPixmap(Icon icon, const QColor& color, const QSize& size);

// An icon drawn in `widget`'s text colour as it is when painted (so it follows theme changes),
// or in `color` when one is given.
QIcon themedIcon(Icon icon, const QWidget* widget, std::optional<QColor> color = std::nullopt);

// Shows an interface text on a button: the sign as an icon, the words as the button's text.
// Setting the same text again does nothing. The icon's name is kept in the button's
// "relaycastIcon" property ("" without icon).
void setIconText(QAbstractButton* button, const QString& text,
                 std::optional<QColor> color = std::nullopt);

// Adds a combo item whose text may begin with a sign; the sign becomes the item's icon and its
// name is kept under kIconNameRole.
inline constexpr int kIconNameRole = Qt::UserRole + 1;
void addIconItem(QComboBox* combo, const QString& text, const QVariant& data);

// A small square widget that draws one icon in its text colour, or a colour of its own.
class IconLabel : public QWidget {
public:
    explicit IconLabel(QWidget* parent = nullptr);
    ~IconLabel() override;

    void setIcon(std::optional<Icon> icon, std::optional<QColor> color = std::nullopt);
    std::optional<Icon> icon() const { return icon_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<Icon> icon_;
    std::optional<QColor> color_;
};

// Gives `label` a leading icon, drawn at the start of its first line (the text is indented to
// make room), or takes it away.
void setLabelIcon(QLabel* label, std::optional<Icon> icon);
// The icon setLabelIcon put on `label`, if any.
std::optional<Icon> labelIcon(const QLabel* label);
// Shows `text` on `label`: its leading sign as the label's icon, its other signs taken out.
void setIconLabelText(QLabel* label, const QString& text);

} // namespace relaycast
