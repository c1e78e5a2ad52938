// The wheel-safe input widgets and the elided label, driven as the user drives them: real key
// presses, mouse clicks and wheel turns delivered to the widget under the pointer, inside a
// scrolling form like the entry dialog's.
#include "editor/input_widgets.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <memory>

using relaycast::ElidedLabel;
using relaycast::NoWheelComboBox;
using relaycast::NoWheelDoubleSpinBox;
using relaycast::NoWheelSpinBox;

namespace {

// A tall form in a scroll area: a line edit to start from, then the three input widgets with
// room above and below so the area can scroll either way.
class ScrollingForm : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        auto* outer = new QVBoxLayout(window.get());
        scrollArea = new QScrollArea(window.get());
        scrollArea->setWidgetResizable(true);
        outer->addWidget(scrollArea);

        auto* form = new QWidget;
        auto* layout = new QVBoxLayout(form);
        start = new QLineEdit(form);
        layout->addWidget(start);
        layout->addSpacing(300);
        combo = new NoWheelComboBox(form);
        combo->addItems({"uno", "dos", "tres", "cuatro"});
        combo->setCurrentIndex(1);
        layout->addWidget(combo);
        quality = new NoWheelSpinBox(form);
        quality->setRange(1, 1000000);
        quality->setSuffix(" kbps");
        quality->setValue(5000);
        layout->addWidget(quality);
        delay = new NoWheelDoubleSpinBox(form);
        delay->setLocale(QLocale::c());
        delay->setRange(0, 100);
        delay->setDecimals(2);
        delay->setValue(0);
        layout->addWidget(delay);
        layout->addSpacing(1500);
        scrollArea->setWidget(form);

        window->resize(400, 500);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The inputs sit in the middle of the view, so the area can scroll both ways.
        scrollArea->verticalScrollBar()->setValue(200);
        start->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(start->hasFocus());
    }

    // Turns the wheel one notch down with the pointer over the middle of `widget`. The event goes
    // to the innermost widget there (a spin box's line edit, say), as the window system sends it.
    // Returns whether anything accepted it.
    bool turnWheelOver(QWidget* widget) {
        const QPoint inWindow = widget->mapTo(window.get(), widget->rect().center());
        QWidget* target = window->childAt(inWindow);
        if (!target)
            return false;
        const QPoint local = target->mapFrom(window.get(), inWindow);
        QWheelEvent wheel(QPointF(local), QPointF(target->mapToGlobal(local)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // Marked as coming from the window system: only such wheel events travel on to the
        // parents when the widget under the pointer leaves them.
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QApplication::instance()->notify(target, &wheel);
        return wheel.isAccepted();
    }

    int scrollPosition() const { return scrollArea->verticalScrollBar()->value(); }

    // Moves focus forward with the Tab key until `widget` has it (at most a few presses).
    void tabInto(QWidget* widget) {
        for (int i = 0; i < 6 && !widget->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QApplication::processEvents();
    }

    std::unique_ptr<QWidget> window;
    QScrollArea* scrollArea = nullptr;
    QLineEdit* start = nullptr;
    NoWheelComboBox* combo = nullptr;
    NoWheelSpinBox* quality = nullptr;
    NoWheelDoubleSpinBox* delay = nullptr;
};

TEST_F(ScrollingForm, WheelOverUnfocusedInputsScrollsTheFormAndLeavesTheirValues) {
    for (QWidget* input : std::initializer_list<QWidget*>{combo, quality, delay}) {
        SCOPED_TRACE(input->metaObject()->className());
        const int before = scrollPosition();
        turnWheelOver(input);
        EXPECT_GT(scrollPosition(), before);
        scrollArea->verticalScrollBar()->setValue(200);
        QApplication::processEvents();
    }
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(quality->value(), 5000);
    EXPECT_EQ(delay->value(), 0.0);
}

TEST_F(ScrollingForm, WheelChangesAFocusedInputAndTheFormStays) {
    tabInto(combo);
    ASSERT_TRUE(combo->hasFocus());
    const int comboScroll = scrollPosition();
    EXPECT_TRUE(turnWheelOver(combo));
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(scrollPosition(), comboScroll);

    tabInto(quality);
    ASSERT_TRUE(quality->hasFocus());
    const int spinScroll = scrollPosition();
    EXPECT_TRUE(turnWheelOver(quality));
    EXPECT_EQ(quality->value(), 4999);
    EXPECT_EQ(scrollPosition(), spinScroll);
}

TEST_F(ScrollingForm, InputsTakeFocusByTabAndClickButNeverByWheel) {
    for (QWidget* input : std::initializer_list<QWidget*>{combo, quality, delay})
        EXPECT_EQ(input->focusPolicy(), Qt::StrongFocus) << input->metaObject()->className();
    turnWheelOver(combo);
    EXPECT_TRUE(start->hasFocus());
}

TEST_F(ScrollingForm, TabbingIntoTheSpinBoxSelectsItsNumberSoTypingReplacesIt) {
    QSignalSpy changes(quality, qOverload<int>(&QSpinBox::valueChanged));
    tabInto(quality);
    ASSERT_TRUE(quality->hasFocus());
    EXPECT_EQ(quality->findChild<QLineEdit*>()->selectedText(), "5000");

    QTest::keyClicks(quality, "300");
    EXPECT_EQ(quality->text(), "300 kbps");
    // No keyboard tracking: nothing is committed while typing.
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(quality->value(), 5000);

    QTest::keyClick(quality, Qt::Key_Tab);
    EXPECT_FALSE(quality->hasFocus());
    EXPECT_EQ(quality->value(), 300);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toInt(), 300);
}

TEST_F(ScrollingForm, AFirstClickSelectsTheNumberAndASecondClickPlacesTheCursor) {
    QLineEdit* edit = quality->findChild<QLineEdit*>();
    const QPoint nearStart(4, edit->height() / 2);
    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, nearStart);
    ASSERT_TRUE(quality->hasFocus());
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasSelectedText(); }, 1000));
    EXPECT_EQ(edit->selectedText(), "5000");

    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, nearStart);
    QTest::qWait(50);
    EXPECT_FALSE(edit->hasSelectedText());
    EXPECT_EQ(edit->cursorPosition(), 0);
}

TEST_F(ScrollingForm, ANumberBelowTheMinimumCommitsTheMinimumAndAnEmptyBoxTheOldValue) {
    QSignalSpy changes(quality, qOverload<int>(&QSpinBox::valueChanged));
    tabInto(quality);
    QTest::keyClicks(quality, "0");
    EXPECT_EQ(quality->text(), "0 kbps");
    QTest::keyClick(quality, Qt::Key_Tab);
    EXPECT_EQ(quality->value(), 1);
    EXPECT_EQ(quality->text(), "1 kbps");
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toInt(), 1);

    quality->setValue(4500);
    changes.clear();
    start->setFocus(Qt::OtherFocusReason);
    tabInto(quality);
    QTest::keyClick(quality, Qt::Key_Backspace);
    EXPECT_EQ(quality->text(), " kbps");
    QTest::keyClick(quality, Qt::Key_Tab);
    EXPECT_EQ(quality->value(), 4500);
    EXPECT_EQ(quality->text(), "4500 kbps");
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(ScrollingForm, AnEnterCommitsTheSpinBoxWhileTheDoubleSpinBoxFollowsEveryKeystroke) {
    QSignalSpy whole(quality, qOverload<int>(&QSpinBox::valueChanged));
    tabInto(quality);
    QTest::keyClicks(quality, "42");
    EXPECT_EQ(whole.count(), 0);
    QTest::keyClick(quality, Qt::Key_Return);
    ASSERT_EQ(whole.count(), 1);
    EXPECT_EQ(whole.at(0).at(0).toInt(), 42);

    QSignalSpy decimal(delay, qOverload<double>(&QDoubleSpinBox::valueChanged));
    tabInto(delay);
    ASSERT_TRUE(delay->hasFocus());
    delay->selectAll();
    QTest::keyClicks(delay, "12.5");
    ASSERT_EQ(decimal.count(), 3);
    EXPECT_DOUBLE_EQ(decimal.at(0).at(0).toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(decimal.at(1).at(0).toDouble(), 12.0);
    EXPECT_DOUBLE_EQ(decimal.at(2).at(0).toDouble(), 12.5);
}

const QString kLongText = QStringLiteral(
    "rtmp://servidor-de-ingesta-muy-largo.ejemplo.net:1935/aplicacion/directo-principal");

QString withoutEllipsis(QString text) {
    return text.remove(QChar(0x2026));
}

TEST(ElidedLabel, NeverWidensItsLayoutAndShowsMoreAsItsWindowWidens) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* label = new ElidedLabel(&window);
    layout->addWidget(label);
    label->fullText = kLongText;
    label->updateElided();

    // The label asks for no width of its text: the window may be narrower than the text.
    EXPECT_LT(window.minimumSizeHint().width(), 100);
    window.resize(150, 40);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QString narrow = label->text();
    EXPECT_TRUE(narrow.endsWith(QChar(0x2026))) << narrow.toStdString();
    EXPECT_TRUE(kLongText.startsWith(withoutEllipsis(narrow)));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(narrow), label->width() - 2);

    window.resize(350, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->width() > 300; }, 2000));
    const QString wider = label->text();
    EXPECT_GT(withoutEllipsis(wider).size(), withoutEllipsis(narrow).size());
    EXPECT_TRUE(kLongText.startsWith(withoutEllipsis(wider)));

    window.resize(label->fontMetrics().horizontalAdvance(kLongText) + 60, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == kLongText; }, 2000));
}

TEST(ElidedLabel, TwoPixelsOrLessShowOnlyAnEllipsisOrNothing) {
    ElidedLabel label;
    label.fullText = kLongText;
    label.setMinimumWidth(0);
    for (int width : {2, 1, 0}) {
        label.resize(width, 20);
        label.updateElided();
        EXPECT_TRUE(label.text().isEmpty() || label.text() == QString(QChar(0x2026)))
            << width << " px: " << label.text().toStdString();
    }
}

TEST(ElidedLabel, AFontChangeReElidesWithoutAResize) {
    ElidedLabel label;
    label.fullText = kLongText;
    label.resize(220, 30);
    label.updateElided();
    const QString before = label.text();
    ASSERT_TRUE(before.endsWith(QChar(0x2026)));

    QFont bigger = label.font();
    bigger.setPixelSize(QFontInfo(label.font()).pixelSize() * 2);
    label.setFont(bigger);
    EXPECT_EQ(label.width(), 220);
    const QString after = label.text();
    EXPECT_LT(withoutEllipsis(after).size(), withoutEllipsis(before).size());
    EXPECT_LE(QFontMetrics(bigger).horizontalAdvance(after), 218);
}

} // namespace
