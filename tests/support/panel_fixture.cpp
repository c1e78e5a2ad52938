#include "support/panel_fixture.h"

#include "editor/input_widgets.h"
#include "support/icon_text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

namespace relaycast::test {

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count())
            return condition();
        QTest::qWait(20);
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    QTest::qWait(static_cast<int>(duration.count()));
}

PanelWorld::PanelWorld(const QString& collection)
    : store(dir.filePath(QStringLiteral("salidas.json"))) {
    frontend.setCurrentSceneCollection(collection);
    controller.startHeartbeat();
}

PanelWorld::~PanelWorld() {
    controller.shutdown();
}

CollectionConfig& PanelWorld::entries() {
    return store.entriesOf(frontend.currentSceneCollection());
}

CollectionConfig& PanelWorld::entries(const QString& collection) {
    return store.entriesOf(collection);
}

std::unique_ptr<SalidasPanel> PanelWorld::openPanel(const QString& startupNotice) {
    auto panel = std::make_unique<SalidasPanel>(controller, startupNotice);
    panel->resize(360, 640);
    panel->show();
    if (!QTest::qWaitForWindowExposed(panel.get()))
        qWarning("the panel window was not exposed");
    // Keyboard focus needs an active window; there is no window manager to activate it.
    panel->activateWindow();
    if (!QTest::qWaitForWindowActive(panel.get()))
        qWarning("the panel window did not become active");
    return panel;
}

QString statusTextOf(const SalidasPanel& panel, const QString& destinationId) {
    const ElidedLabel* label = panel.destinationStatusLabel(destinationId);
    return label ? label->fullText : QStringLiteral("<no row>");
}

QString statusStyleOf(const SalidasPanel& panel, const QString& destinationId) {
    const ElidedLabel* label = panel.destinationStatusLabel(destinationId);
    return label ? label->styleSheet() : QStringLiteral("<no row>");
}

QString buttonTextOf(const SalidasPanel& panel, const QString& destinationId) {
    const QPushButton* button = panel.destinationButton(destinationId);
    return button ? shownText(button) : QStringLiteral("<no row>");
}

void clickDestination(SalidasPanel& panel, const QString& destinationId) {
    QPushButton* button = panel.destinationButton(destinationId);
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace relaycast::test
