#pragma once

#include <QString>

namespace relaycast {

// Why the host could not send to a rist:// address with this secret (the key field), or empty
// when it can. The host's sender is a RIST caller in the main profile that needs the receiver's
// host and port; it cannot log in to a receiver (username= / password= never reach it) and sets
// its own recovery buffer over buffer=. `trimmedAddress` starts with rist:// (any case); the
// message has no row prefix.
QString ristAddressProblem(const QString& trimmedAddress, const QString& secret);

// The address handed to the host's RIST sender: the scheme in lower case (the host compares it
// exactly) and, with a secret, the secret and the AES key size (128 unless the address names
// one) added to its query. The host encrypts only with a secret it reads from the address: the
// one it takes from the service's key comes after its check that aes-type= has a secret, and
// without aes-type= it sends in the clear.
QString hostRistAddress(const QString& trimmedAddress, const QString& secret);

} // namespace relaycast
