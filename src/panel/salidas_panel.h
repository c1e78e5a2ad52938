#pragma once

#include "config/config_model.h"
#include "engine/destinations/destination_status.h"
#include "engine/entry/entry_controller.h"
#include "engine/entry/entry_runtime.h"

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

// The plug-in's dock: one card per entry of the current scene collection, repainted after
// every heartbeat of the entry controller, the user's actions (passed on to the controller),
// the notice line, the update banner and the previews. The controller owns the streams; the
// panel only draws what it reports. Interface thread only.
class SalidasPanel : public QWidget {
public:
    // `controller` (and its configuration store) is not owned and must outlive the panel. A
    // non-empty `startupNotice` is shown as an error notice.
    SalidasPanel(EntryController& controller, const QString& startupNotice,
                 QWidget* parent = nullptr);
    ~SalidasPanel() override;

    QSize sizeHint() const override;

    EntryController& controller() { return controller_; }
    // Views of the controller's state, as the cards use them.
    CollectionConfig& currentEntries();
    EntryConfig* findEntry(const QString& entryId);
    EntryRuntime& runtimeFor(const QString& entryId);
    bool isEntryLive(const QString& entryId) const;
    // Throws the cards away and builds them again from currentEntries(); runtimes keep running.
    void rebuildCards();

    // Card and fixed-control handlers.
    void addEntry();
    void editEntry(const QString& entryId);
    void deleteEntry(const QString& entryId);
    void toggleDestination(const QString& entryId, const QString& destinationId);
    // The header's "start all" and "stop all"; stopping live streams asks first.
    void startAllEntries();
    void stopAllEntries();
    void switchEntrySource(const QString& entryId, const QString& name);
    // Brings the entries of a removed collection (set-aside group `index`) into this one.
    void bringBackSetAside(int index);
    void onPreviewToggled(const QString& entryId, bool on);

    // After each of the controller's heartbeats: the repaint (visible) or letting go of the
    // previews (hidden).
    void onHeartbeat();
    void refreshStatus();

    // Notices: one line at the bottom; errors stay (and are logged), information hides after 8 s.
    void showNotice(const QString& text, bool isError);
    // Shows, once per session, that keys had to be saved unencrypted.
    void showProtectionWarning();
    void announceDestinationChange(const EntryConfig& entry, const DestConfig& destination,
                                   int previous, const DestinationStatus& status);
    // A recording that failed once running (disk full, folder gone) says so with its message;
    // a start refused at once is told by whoever asked for it.
    void announceRecordingChange(const EntryConfig& entry, int previous,
                                 const DestinationStatus& status);
    // A change the controller reported: the cut, recovery and loss notices.
    void onDestinationChange(const DestinationChange& change);
    // Every heartbeat, shown or not: a destination that turned congested is announced once
    // per episode, and again when its path keeps up.
    void announceCongestion();

    void showUpdateBanner(const QString& version, const QString& url);
    void destroyPreviewDisplays();

    // Host events (routed by the module).
    void followLiveScene();
    void onCollectionChanged();
    // The panel's part of the shut-down at host exit or unload (the update check, the
    // previews); runs once.
    void onHostExit();

    // Read-only views for tests and diagnostics.
    bool isClosing() const { return closing; }
    // A destination's row, or with recordingIdOf(entry id) the entry's recording row.
    ElidedLabel* destinationStatusLabel(const QString& destinationId) const;
    QPushButton* destinationButton(const QString& destinationId) const;
    ElidedLabel* recordingPlaceLabel(const QString& entryId) const;
    QWidget* switchRow(const QString& entryId) const;
    QComboBox* switchCombo(const QString& entryId) const;
    PreviewWidget* previewWidget(const QString& entryId) const;
    QLabel* noticeLine() const { return noticeLabel; }
    QLabel* uploadLine() const { return uploadLabel; }
    QWidget* cardList() const { return cardContainer; }
    QWidget* updateBanner() const { return bannerWidget; }
    QLabel* updateBannerLabel() const { return bannerLabel; }
    const EntryRuntime* runtimeOf(const QString& entryId) const;
    int retiringRuntimeCount() const { return controller_.retiringRuntimeCount(); }
    bool refreshTimerActive() const { return controller_.heartbeatActive(); }

private:
    // Runs a handler's body so that nothing escapes into the host: a standard exception becomes
    // the notice "Error inesperado: %1", anything else the handler's own `fallback` notice.
    void guarded(const char* fallback, const std::function<void()>& body);
    void rebuildCardsUnguarded();
    void deleteEntryUnguarded(const QString& entryId);

    QFrame* buildCard(const EntryConfig& entry, const QStringList& sceneNames,
                      const QStringList& sourceNames);
    QWidget* buildSetAsideRow(int index, const SetAsideEntries& group);
    QWidget* buildDestinationRow(QWidget* card, const EntryConfig& entry,
                                 const DestConfig& destination);
    QWidget* buildRecordingRow(QWidget* card, const QString& entryId);
    QWidget* buildRelayRow(QWidget* card, const EntryConfig& entry);
    void refreshSwitchRow(const QString& entryId);
    void refreshEncoderLoad(const QString& entryId);
    // The header's upload line: what the live destinations need, and what the upload carried
    // at most once a path was congested; hidden while nothing is live and nothing was seen.
    void refreshUpload();
    // Before a start the upload was seen not to carry: true to start anyway.
    bool startDespiteUpload(const QString& warning);
    void refreshDestination(const QString& entryId, const DestConfig& destination);
    void refreshRecording(const EntryConfig& entry);
    void refreshRelay(const EntryConfig& entry);
    void refreshPreview(const QString& entryId, PreviewWidget* preview);
    void openDownloadUrl();

    EntryController& controller_;
    ConfigStore* configStore;
    std::vector<int> listenerIds_;
    bool closing = false;
    int32_t noticeGeneration = 0;
    // By destination id, and the recordings' by recordingIdOf(entry id).
    QHash<QString, QPair<ElidedLabel*, QPushButton*>> destinationWidgets;
    QHash<QString, ElidedLabel*> recordingPlaces; // the recording row's file, by entry id
    QHash<QString, QPair<QWidget*, QComboBox*>> switchRows;
    QHash<QString, QLabel*> encoderLoadLabels;
    QHash<QString, PreviewWidget*> previews;
    QSet<QString> previewEnabled;
    QSet<QString> congestionAnnounced; // destinations whose congestion was announced
    QScrollArea* scrollArea = nullptr;
    QWidget* cardContainer = nullptr;
    QVBoxLayout* cardLayout = nullptr;
    QLabel* noticeLabel = nullptr;
    QLabel* uploadLabel = nullptr;
    QWidget* everyEntryRow = nullptr;
    QWidget* bannerWidget = nullptr;
    QLabel* bannerLabel = nullptr;
    QString downloadUrl;
    std::unique_ptr<UpdateChecker> updateChecker;
};

} // namespace relaycast
