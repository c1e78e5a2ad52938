// The real front end outside the OBS main window: the host answers every front-end call with
// nothing and refuses docks, and the panel must come back to its owner intact.
#include "module/host_frontend.h"

#include <QApplication>
#include <QDockWidget>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

using relaycast::hostFrontend;

namespace {

TEST(RealFrontend, ARefusedDockLeavesThePanelWithItsOwner) {
    auto* panel = new QWidget;
    QPointer<QWidget> guard(panel);
    EXPECT_FALSE(hostFrontend().addDock(panel, "relaycast-panel", "Relaycast"));
    ASSERT_FALSE(guard.isNull());
    EXPECT_EQ(panel->parent(), nullptr);
    // No dock widget was left behind.
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<QDockWidget*>(top), nullptr);
    delete panel;
}

TEST(RealFrontend, WithoutTheMainWindowEveryAnswerIsEmpty) {
    EXPECT_TRUE(hostFrontend().scenes().empty());
    EXPECT_FALSE(hostFrontend().currentScene());
    EXPECT_TRUE(hostFrontend().currentSceneCollection().isEmpty());
}

} // namespace
