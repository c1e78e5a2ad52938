#pragma once

#include "config/config_model.h"
#include "engine/destinations/destination_status.h"
#include "relay/relay_watch.h"

#include <QColor>
#include <QString>

#include <optional>
#include <utility>

namespace relaycast {

// How a destination's state reads on its card: the status line and its colour.
struct StatusLine {
    QString text;
    QString styleSheet;
};

StatusLine destinationStatusLine(const DestinationStatus& status);

// A destination the entry's relay carries, once OBS reaches the relay: what the relay's page
// says of its push; before that, as any destination.
StatusLine relayedStatusLine(const DestinationStatus& status);

// The relay's own row: OBS's output to it (`output`) and what its page shows.
StatusLine relayStatusLine(const DestinationStatus& output, RelayLink link,
                           std::optional<std::pair<int, int>> pushesConnected,
                           const QString& pageError);

// The line of a destination whose saved key could not be opened on this computer.
StatusLine missingSecretLine();

// "■ Cancelar" while an active destination connects, "■ Parar" while it is otherwise active,
// "▶ Emitir" when it has no output.
QString destinationButtonText(bool active, DestinationState state);

// How the entry's recording reads on its row: starting, recording with its time and size, a
// failure with its message, stopped.
StatusLine recordingStatusLine(const DestinationStatus& status);

// What the recording row shows where a destination shows its address: the file being written
// or last written, otherwise the folder it would go to, otherwise what the row does.
QString recordingPlaceText(const DestinationStatus& status, const RecordingConfig& config);

// "■ Parar" while the recording is active ("■ Cancelar" while it starts), "▶ Grabar" otherwise.
QString recordingButtonText(bool active, DestinationState state);

// The start/stop button's look: red while the destination is active, green otherwise, with
// white text and icon.
inline constexpr QRgb kStreamButtonTextColor = 0xffffffff;
inline constexpr const char* kActiveButtonStyle =
    "QPushButton { background: #b3372f; color: white; border-radius: 4px; padding: 4px 10px; "
    "}QPushButton:hover { background: #cc4037; }";
inline constexpr const char* kIdleButtonStyle =
    "QPushButton { background: #2d8a3e; color: white; border-radius: 4px; padding: 4px 10px; "
    "}QPushButton:hover { background: #36a04a; }";

} // namespace relaycast
