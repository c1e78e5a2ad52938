#pragma once

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>

namespace relaycast {

// Combo box that ignores the mouse wheel unless it has keyboard focus, so turning the wheel
// over a long form scrolls the form instead of changing the value under the pointer.
class NoWheelComboBox : public QComboBox {
public:
    explicit NoWheelComboBox(QWidget* parent = nullptr);
    ~NoWheelComboBox() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// Combo box that never takes the mouse wheel, focused or not: for a control that changes what a
// live show sends, which only a deliberate pick from its list may do.
class WheelProofComboBox : public QComboBox {
public:
    explicit WheelProofComboBox(QWidget* parent = nullptr);
    ~WheelProofComboBox() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// Spin box with the same wheel rule; commits only finished edits (no keyboard tracking),
// selects its whole text when entered, and clamps a typed out-of-range number on commit.
class NoWheelSpinBox : public QSpinBox {
public:
    explicit NoWheelSpinBox(QWidget* parent = nullptr);
    ~NoWheelSpinBox() override;

    void fixup(QString& input) const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
};

// Double spin box with the same wheel rule (keyboard tracking stays on).
class NoWheelDoubleSpinBox : public QDoubleSpinBox {
public:
    explicit NoWheelDoubleSpinBox(QWidget* parent = nullptr);
    ~NoWheelDoubleSpinBox() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// One-line label that cuts its text with an ellipsis at the right instead of widening its
// layout. Set `fullText`, then call updateElided().
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    ~ElidedLabel() override;

    QString fullText;
    void updateElided();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
};

} // namespace relaycast
