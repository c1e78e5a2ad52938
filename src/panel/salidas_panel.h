#pragma once

#include "config/config_model.h"
#include "engine/destination_status.h"
#include "engine/entry_runtime.h"

#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace relaycast {

class ConfigStore;
class ElidedLabel;
class PreviewWidget;
class UpdateChecker;

// The plug-in's dock: one card per entry of the current scene collection, the 500 ms heartbeat
// that drives the engine and repaints every destination's status, the user's actions, the
// notice line, the update banner and the previews. Owns every entry runtime. Interface thread
// only.
class SalidasPanel : public QWidget {
public:
    // `configStore` is not owned and must outlive the panel. A non-empty `startupNotice` is
    // shown as an error notice.
    SalidasPanel(ConfigStore* configStore, const QString& startupNotice, QWidget* parent = nullptr);
    // Stops the heartbeat, stops every runtime and waits until their outputs are released (the
    // panel only goes with the host).
    ~SalidasPanel() override;

    QSize sizeHint() const override;

    // The entries of the host's current scene collection (created empty for a new name).
    CollectionConfig& currentEntries();
    EntryConfig* findEntry(const QString& entryId);
    // The entry's runtime, created empty when it has none.
    EntryRuntime& runtimeFor(const QString& entryId);
    // True while the entry has any destination output, whatever its state.
    bool isEntryLive(const QString& entryId) const;
    // Throws the cards away and builds them again from currentEntries(); runtimes keep running.
    void rebuildCards();

    // Card and fixed-control handlers.
    void addEntry();
    void editEntry(const QString& entryId);
    void deleteEntry(const QString& entryId);
    void toggleDestination(const QString& entryId, const QString& destinationId);
    void switchEntrySource(const QString& entryId, const QString& name);
    void onPreviewToggled(const QString& entryId, bool on);

    // The name the entry is to send now: its own choice, or the host's live scene mapped
    // through its equivalences when it follows the host.
    QString effectiveSourceName(const EntryConfig& entry) const;

    // The heartbeat and the repaint it ends with.
    void onRefreshTick();
    void refreshStatus();

    // Notices: one line at the bottom; errors stay (and are logged), information hides after 8 s.
    void showNotice(const QString& text, bool isError);
    void saveWithNotice();
    // Shows, once per session, that keys had to be saved unencrypted.
    void showProtectionWarning();
    void announceDestinationChange(const EntryConfig& entry, const DestConfig& destination,
                                   int previous, const DestinationStatus& status);

    void showUpdateBanner(const QString& version, const QString& url);
    void destroyPreviewDisplays();

    // Host events (routed by the module).
    void followLiveScene();
    void onCollectionChanged();
    void stopAllRuntimes();
    // Shut-down at host exit or unload; runs once.
    void onHostExit();

    // Read-only views for tests and diagnostics.
    bool isClosing() const { return closing; }
    ElidedLabel* destinationStatusLabel(const QString& destinationId) const;
    QPushButton* destinationButton(const QString& destinationId) const;
    QWidget* switchRow(const QString& entryId) const;
    QComboBox* switchCombo(const QString& entryId) const;
    PreviewWidget* previewWidget(const QString& entryId) const;
    QLabel* noticeLine() const { return noticeLabel; }
    QWidget* cardList() const { return cardContainer; }
    QWidget* updateBanner() const { return bannerWidget; }
    QLabel* updateBannerLabel() const { return bannerLabel; }
    const EntryRuntime* runtimeOf(const QString& entryId) const;
    int retiringRuntimeCount() const { return static_cast<int>(retiringRuntimes.size()); }
    bool refreshTimerActive() const;

private:
    // Runs a handler's body so that nothing escapes into the host: a standard exception becomes
    // the notice "Error inesperado: %1", anything else the handler's own `fallback` notice.
    void guarded(const char* fallback, const std::function<void()>& body);
    void rebuildCardsUnguarded();
    void deleteEntryUnguarded(const QString& entryId);

    QFrame* buildCard(const EntryConfig& entry, const QStringList& sceneNames,
                      const QStringList& sourceNames);
    QWidget* buildDestinationRow(QWidget* card, const QString& entryId,
                                 const DestConfig& destination);
    void refreshSwitchRow(const QString& entryId, EntryRuntime* runtime);
    void refreshDestination(const DestConfig& destination, EntryRuntime* runtime);
    // Compares every destination's state with the last one seen and raises the cut, recovery
    // and loss notices; runs every heartbeat, visible or not.
    void announceStateChanges();
    void refreshPreview(const QString& entryId, PreviewWidget* preview, EntryRuntime* runtime);
    void tickRuntimes();
    void openDownloadUrl();

    ConfigStore* configStore;
    bool closing = false;
    int32_t tickCount = 0;
    int32_t noticeGeneration = 0;
    std::map<QString, std::unique_ptr<EntryRuntime>> runtimes;
    std::list<std::unique_ptr<EntryRuntime>> retiringRuntimes;
    QHash<QString, QPair<ElidedLabel*, QPushButton*>> destinationWidgets;
    QHash<QString, QPair<QWidget*, QComboBox*>> switchRows;
    QHash<QString, PreviewWidget*> previews;
    QSet<QString> previewEnabled;
    QHash<QString, int> lastDestinationState;
    QScrollArea* scrollArea = nullptr;
    QWidget* cardContainer = nullptr;
    QVBoxLayout* cardLayout = nullptr;
    QLabel* noticeLabel = nullptr;
    QWidget* bannerWidget = nullptr;
    QLabel* bannerLabel = nullptr;
    QString downloadUrl;
    std::unique_ptr<UpdateChecker> updateChecker;
    QTimer* refreshTimer = nullptr;
};

} // namespace relaycast
