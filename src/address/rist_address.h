#pragma once

#include <QString>

namespace relaycast {

// Why the host could not send to a rist:// address with this secret (the key field), or empty
// when it can. The host's sender is a RIST caller in the main profile that needs the receiver's
// host and port and nothing after them but a query; it cannot log in to a receiver (username= /
// password= never reach it) and sets its own recovery buffer over buffer=. The address carries
// the secret to the host, so it may hold only parameters the host's sender is known to read,
// each once. `trimmedAddress` starts with rist:// (any case); the message has no row prefix.
QString ristAddressProblem(const QString& trimmedAddress, const QString& secret);

// The address handed to the host's RIST sender: the scheme in lower case (the host compares it
// exactly), no "/" after the port and, with a secret, the secret and the AES key size (128
// unless the address names one) added to its query. A secret the host reads from the address
// encrypts on every line; the one it takes from the service's key does not: with aes-type= the host
// checks for a secret before taking it and refuses to start (OBS 32 then crashes), and without
// aes-type= OBS 29 sends in the clear and OBS 32 sends nothing a receiver can read.
QString hostRistAddress(const QString& trimmedAddress, const QString& secret);

} // namespace relaycast
