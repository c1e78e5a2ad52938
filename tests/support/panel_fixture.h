#pragma once

// Helpers for tests that drive the dock panel on the real host: a configuration store in a
// temporary folder, the fake front end on a named scene collection, a shown panel, and waits
// that keep the event loop (and so the panel's own 500 ms heartbeat) running.

#include "config/config_store.h"
#include "engine/entry/entry_controller.h"
#include "panel/salidas_panel.h"
#include "support/fake_frontend.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>

namespace relaycast::test {

// Runs the event loop until `condition` holds or `timeout` passes; returns its last value.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Runs the event loop for `duration`.
void pumpFor(std::chrono::milliseconds duration);

class PanelWorld {
public:
    explicit PanelWorld(const QString& collection = QStringLiteral("Escenas"));
    // Shuts the controller down: every stream stopped and released.
    ~PanelWorld();

    QTemporaryDir dir;
    ConfigStore store;
    FakeFrontend frontend;
    // Runs the entries of `store`, its heartbeat started, as the plug-in does.
    EntryController controller{store};

    // The entries of a collection (the current one by default).
    CollectionConfig& entries();
    CollectionConfig& entries(const QString& collection);

    // A panel on this world's controller, shown at a dock-like size.
    std::unique_ptr<SalidasPanel> openPanel(const QString& startupNotice = {});
};

// The status line's full text and the start/stop button's text of a destination's row.
QString statusTextOf(const SalidasPanel& panel, const QString& destinationId);
QString statusStyleOf(const SalidasPanel& panel, const QString& destinationId);
QString buttonTextOf(const SalidasPanel& panel, const QString& destinationId);
// Clicks a destination's start/stop button with the mouse.
void clickDestination(SalidasPanel& panel, const QString& destinationId);

} // namespace relaycast::test
