#pragma once

#include "relay/relay_config.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace relaycast {

// What one relayed destination's card shows of the relay.
struct RelayPushState {
    QString destinationId;
    // The relay lists the push (or, for SRT, the ffmpeg that carries it) as connected and
    // sending. A push missing from the page is down.
    bool connected = false;
};

// The relay's statistics page (nginx-rtmp's rtmp_stat XML) read for our application.
//
// nginx-rtmp lists a push as a <client> of the stream with <flashver>ngx-local-relay</flashver>
// and <address> the push url without "rtmp://", stream key included, e.g.
// "platform.example:1935/live/KEY": the page shows every key, so it must stay restricted to the
// streamer (its secret path, allow/deny). A push shows there only once its RTMP handshake is
// done: one refused, or whose server accepts the connection and never answers, is not listed.
// It counts bytes and rates per stream, not per push: bytesOut and bwOut are what the stream sent
// to all its pushes together. An SRT destination shows as the ffmpeg that carries it, under
// its flash version "relaycast-<id>"; that ffmpeg connects to the relay before the SRT peer, and
// nginx starts it again when it exits, so an unreachable SRT peer can show as briefly up.
struct RelayStats {
    QString error; // the page could not be read; nothing below is known then
    bool publisherConnected = false;
    qint64 bytesIn = 0;  // from OBS
    qint64 bwIn = 0;     // bits per second, as nginx-rtmp last measured it
    qint64 bytesOut = 0; // to all pushes together
    qint64 bwOut = 0;
    QList<RelayPushState> pushes; // one per destination the relay sends to, in their order
};

// Reads the page for the relay planned from these settings and destinations (the same ones
// its configuration was made from). Only destination ids are returned, never an address.
RelayStats readRelayStats(const QByteArray& xml, const RelaySettings& settings,
                          const QList<RelayedDestination>& destinations);

} // namespace relaycast
