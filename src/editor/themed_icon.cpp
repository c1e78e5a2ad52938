#include "editor/themed_icon.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QIconEngine>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>
#include <QVariant>

#include <algorithm>
#include <iterator>

// Resources of a static library are linked only when something asks for them.
static void initIconResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(relaycast_icons);
        return true;
    }();
    (void)done;
}

namespace relaycast {
namespace {

struct Sign {
    const char* text;
    Icon icon;
    const char* name;
};

constexpr Sign kSigns[] = {
    {"＋", Icon::Add, "add"},         {"👁", Icon::Preview, "preview"},
    {"🗑", Icon::Delete, "delete"}, {"✎", Icon::Edit, "edit"},
    {"▶", Icon::Start, "start"},      {"■", Icon::Stop, "stop"},
    {"✕", Icon::Close, "close"},      {"✖", Icon::Remove, "remove"},
    {"🎬", Icon::Scene, "scene"},      {"🎥", Icon::Source, "source"},
    {"↪", Icon::Follow, "follow"},    {"⚠", Icon::Warning, "warning"},
    {"⬆", Icon::Update, "update"},    {"✔", Icon::Recovered, "recovered"},
    {"⛔", Icon::Lost, "lost"},
};

constexpr char kIconProperty[] = "relaycastIcon";
constexpr char kTextProperty[] = "relaycastText";

const Sign* signOf(Icon icon) {
    for (const Sign& sign : kSigns) {
        if (sign.icon == icon)
            return &sign;
    }
    return nullptr;
}

// The sign `text` starts with at `at`, if any.
const Sign* signAt(const QString& text, qsizetype at) {
    for (const Sign& sign : kSigns) {
        const QString s = QString::fromUtf8(sign.text);
        if (QStringView(text).mid(at).startsWith(s))
            return &sign;
    }
    return nullptr;
}

QColor foregroundColor(const QWidget* widget, QIcon::Mode mode) {
    const QPalette::ColorGroup group =
        mode == QIcon::Disabled || !widget->isEnabled() ? QPalette::Disabled : QPalette::Active;
    return widget->palette().color(group, widget->foregroundRole());
}

// Draws the icon when asked, in the colour its widget has at that moment.
class ThemedIconEngine final : public QIconEngine {
public:
    ThemedIconEngine(Icon icon, const QWidget* widget, std::optional<QColor> color)
        : icon_(icon), widget_(widget), color_(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap image = pixmap(rect.size() * ratio, mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect.topLeft(), image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const QColor color = colorFor(mode);
        // Buttons repaint often; an icon is drawn again only when its look changes.
        if (cached_.isNull() || cachedSize_ != size || cachedColor_ != color) {
            cached_ = iconPixmap(icon_, color, size);
            cachedSize_ = size;
            cachedColor_ = color;
        }
        return cached_;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }

    QIconEngine* clone() const override { return new ThemedIconEngine(icon_, widget_, color_); }
    QString key() const override { return QStringLiteral("relaycast-themed"); }

private:
    QColor colorFor(QIcon::Mode mode) const {
        if (color_) {
            if (mode != QIcon::Disabled)
                return *color_;
            QColor faded = *color_;
            faded.setAlphaF(0.45f);
            return faded;
        }
        return widget_ ? foregroundColor(widget_, mode) : QColor(Qt::black);
    }

    Icon icon_;
    QPointer<const QWidget> widget_;
    std::optional<QColor> color_;
    QPixmap cached_;
    QSize cachedSize_;
    QColor cachedColor_;
};

} // namespace

QString iconName(Icon icon) {
    const Sign* sign = signOf(icon);
    return sign ? QString::fromLatin1(sign->name) : QString();
}

QString iconSign(Icon icon) {
    const Sign* sign = signOf(icon);
    return sign ? QString::fromUtf8(sign->text) : QString();
}

std::optional<Icon> iconNamed(const QString& name) {
    for (const Sign& sign : kSigns) {
        if (name == QLatin1String(sign.name))
            return sign.icon;
    }
    return std::nullopt;
}

IconText splitIconText(const QString& text) {
    const Sign* sign = signAt(text, 0);
    if (!sign)
        return {std::nullopt, text};
    QString rest = text.mid(QString::fromUtf8(sign->text).size());
    if (rest.startsWith(QLatin1Char(' ')))
        rest.remove(0, 1);
    return {sign->icon, rest};
}

QString withoutSigns(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        if (const Sign* sign = signAt(text, at)) {
            at += QString::fromUtf8(sign->text).size();
            if (at < text.size() && text.at(at) == QLatin1Char(' '))
                ++at;
            continue;
        }
        result.append(text.at(at));
        ++at;
    }
    return result;
}

QPixmap iconPixmap(Icon icon, const QColor& color, const QSize& size) {
    initIconResources();
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/relaycast/icons/%1.svg").arg(iconName(icon)));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    // The drawings are black on transparent: keep their shape, take the wanted colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon themedIcon(Icon icon, const QWidget* widget, std::optional<QColor> color) {
    return QIcon(new ThemedIconEngine(icon, widget, color));
}

void setIconText(QAbstractButton* button, const QString& text, std::optional<QColor> color) {
    if (button->property(kTextProperty).toString() == text)
        return;
    button->setProperty(kTextProperty, text);
    const IconText parts = splitIconText(text);
    button->setIcon(parts.icon ? themedIcon(*parts.icon, button, color) : QIcon());
    button->setProperty(kIconProperty, parts.icon ? iconName(*parts.icon) : QString());
    button->setText(withoutSigns(parts.text));
}

void addIconItem(QComboBox* combo, const QString& text, const QVariant& data) {
    const IconText parts = splitIconText(text);
    if (!parts.icon) {
        combo->addItem(text, data);
        return;
    }
    combo->addItem(themedIcon(*parts.icon, combo), parts.text, data);
    combo->setItemData(combo->count() - 1, iconName(*parts.icon), kIconNameRole);
}

IconLabel::IconLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

IconLabel::~IconLabel() = default;

void IconLabel::setIcon(std::optional<Icon> icon, std::optional<QColor> color) {
    icon_ = icon;
    color_ = color;
    setProperty(kIconProperty, icon ? iconName(*icon) : QString());
    setVisible(icon.has_value());
    update();
}

QSize IconLabel::sizeHint() const {
    const int side = std::min(fontMetrics().height(), 16);
    return {side, side};
}

void IconLabel::paintEvent(QPaintEvent*) {
    if (!icon_)
        return;
    const qreal ratio = devicePixelRatioF();
    const QColor color = color_ ? *color_ : foregroundColor(this, QIcon::Normal);
    const int side = std::min(width(), height());
    QPixmap image = iconPixmap(*icon_, color, QSize(side, side) * ratio);
    image.setDevicePixelRatio(ratio);
    QPainter painter(this);
    painter.drawPixmap((width() - side) / 2, (height() - side) / 2, image);
}

namespace {

// Keeps a label's leading icon at the start of the label's first line as the label changes.
class LabelIconPlacer final : public QObject {
public:
    LabelIconPlacer(QLabel* label, IconLabel* icon) : QObject(icon), label_(label), icon_(icon) {
        label->installEventFilter(this);
        place();
    }

    void place() {
        const int side = icon_->sizeHint().width();
        const QRect area = label_->contentsRect();
        const int line = label_->fontMetrics().height();
        const bool centred = (label_->alignment() & Qt::AlignVCenter) && !label_->wordWrap();
        const int top =
            centred ? area.top() + (area.height() - side) / 2 : area.top() + (line - side) / 2;
        icon_->setGeometry(area.left(), top, side, side);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange)
            place();
        return false;
    }

private:
    QLabel* label_;
    IconLabel* icon_;
};

constexpr char kLabelIconName[] = "relaycastLabelIcon";

IconLabel* labelIconWidget(const QLabel* label) {
    return dynamic_cast<IconLabel*>(
        label->findChild<QWidget*>(QLatin1String(kLabelIconName), Qt::FindDirectChildrenOnly));
}

} // namespace

void setLabelIcon(QLabel* label, std::optional<Icon> icon) {
    IconLabel* widget = labelIconWidget(label);
    if (!icon && !widget)
        return;
    if (!widget) {
        widget = new IconLabel(label);
        widget->setObjectName(QLatin1String(kLabelIconName));
        new LabelIconPlacer(label, widget);
    }
    widget->setIcon(icon);
    label->setIndent(icon ? widget->sizeHint().width() + 4 : -1);
    for (QObject* child : widget->children()) {
        if (auto* placer = dynamic_cast<LabelIconPlacer*>(child))
            placer->place();
    }
}

std::optional<Icon> labelIcon(const QLabel* label) {
    const IconLabel* widget = labelIconWidget(label);
    return widget && !widget->isHidden() ? widget->icon() : std::nullopt;
}

void setIconLabelText(QLabel* label, const QString& text) {
    const IconText parts = splitIconText(text);
    setLabelIcon(label, parts.icon);
    label->setText(withoutSigns(parts.text));
}

} // namespace relaycast
