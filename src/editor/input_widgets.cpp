#include "editor/input_widgets.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSizePolicy>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace relaycast {
namespace {

// Unfocused input widgets leave the wheel to their parents, so the surrounding form scrolls.
template <typename Base> bool keepWheelFromUnfocused(Base* widget, QWheelEvent* event) {
    if (widget->hasFocus())
        return false;
    event->ignore();
    return true;
}

} // namespace

NoWheelComboBox::NoWheelComboBox(QWidget* parent) : QComboBox(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

NoWheelComboBox::~NoWheelComboBox() = default;

void NoWheelComboBox::wheelEvent(QWheelEvent* event) {
    if (!keepWheelFromUnfocused(this, event))
        QComboBox::wheelEvent(event);
}

WheelProofComboBox::WheelProofComboBox(QWidget* parent) : QComboBox(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

WheelProofComboBox::~WheelProofComboBox() = default;

void WheelProofComboBox::wheelEvent(QWheelEvent* event) {
    event->ignore(); // the dock scrolls instead
}

NoWheelSpinBox::NoWheelSpinBox(QWidget* parent) : QSpinBox(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setKeyboardTracking(false);
}

NoWheelSpinBox::~NoWheelSpinBox() = default;

void NoWheelSpinBox::fixup(QString& input) const {
    QString number = input;
    if (!suffix().isEmpty())
        number.remove(suffix(), Qt::CaseSensitive);
    bool ok = false;
    const qlonglong typed = number.trimmed().toLongLong(&ok, 10);
    if (!ok) {
        QSpinBox::fixup(input);
        return;
    }
    // A number outside the range commits as the nearest bound instead of the old value.
    const qlonglong clamped =
        std::clamp<qlonglong>(typed, static_cast<qlonglong>(minimum()), maximum());
    input = QString::number(clamped);
}

void NoWheelSpinBox::mousePressEvent(QMouseEvent* event) {
    const bool hadFocus = hasFocus();
    QSpinBox::mousePressEvent(event);
    if (!hadFocus)
        QTimer::singleShot(0, this, [this] { selectAll(); });
}

void NoWheelSpinBox::wheelEvent(QWheelEvent* event) {
    if (!keepWheelFromUnfocused(this, event))
        QSpinBox::wheelEvent(event);
}

void NoWheelSpinBox::focusInEvent(QFocusEvent* event) {
    QSpinBox::focusInEvent(event);
    // Selecting later keeps the base class's own cursor placement from undoing it.
    QTimer::singleShot(0, this, [this] { selectAll(); });
}

NoWheelDoubleSpinBox::NoWheelDoubleSpinBox(QWidget* parent) : QDoubleSpinBox(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

NoWheelDoubleSpinBox::~NoWheelDoubleSpinBox() = default;

void NoWheelDoubleSpinBox::wheelEvent(QWheelEvent* event) {
    if (!keepWheelFromUnfocused(this, event))
        QDoubleSpinBox::wheelEvent(event);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(16);
}

ElidedLabel::~ElidedLabel() = default;

void ElidedLabel::updateElided() {
    // A leading icon (see setLabelIcon) takes the indent.
    const int available = std::max(0, width() - 2 - std::max(indent(), 0));
    setText(fontMetrics().elidedText(fullText, Qt::ElideRight, available));
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateElided();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateElided();
}

} // namespace relaycast
