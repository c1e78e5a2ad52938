#pragma once

#include <QString>

namespace relaycast {

enum class AddressKind { RTMP, SRT, RIST, Invalid };

// rtmp:// and rtmps:// are RTMP, srt:// is SRT, rist:// is RIST (scheme compared ignoring case,
// surrounding white space ignored), anything else is Invalid.
AddressKind classifyAddress(const QString& address);

// The port of the address's server ("scheme://host:port/..." or "[v6]:port"), 0 when it names
// none or no valid one.
int addressPort(const QString& trimmedAddress);

// Why the host cannot send to an srt:// address, or empty. Without a port the host's SRT
// library refuses the address and then crashes OBS when it quits. No row prefix.
QString srtAddressProblem(const QString& trimmedAddress);

// What an rtmps:// address whose server is an IP address (v4 or v6) should be told: the host
// checks the name in the server's certificate, and certificates name servers, not addresses, so
// such a connection is refused. Empty for any other address.
QString rtmpsAddressNote(const QString& trimmedAddress);

// "RTMP", "SRT", "RIST" or "?".
QString addressKindName(AddressKind kind);

// The editor's check of one row: empty when the row may be saved, else one complete message
// prefixed with the row number. `trimmedAddress` is already trimmed by the caller; the key
// matters to RIST only (its secret).
QString validateDestinationAddress(const QString& trimmedAddress, int rowNumber,
                                   const QString& key = {});

// The text with the query part of every rtmp/rtmps/srt/rist address replaced by "?…", so stream
// keys never reach the log.
QString maskAddressQueries(const QString& text);

// How an editor row presents an address of a kind.
struct AddressPresentation {
    QString hint;
    QString keyPlaceholder;
    bool showPassphrase = false;
};
AddressPresentation addressPresentation(AddressKind kind);
QString addressFieldPlaceholder();
QString passphrasePlaceholder();

} // namespace relaycast
