#pragma once

#include <QString>

namespace relaycast {

// Why the relay cannot carry a destination with this address and key, without the
// destination's name in front; empty when it can (or nothing is typed yet). Plain code.
QString relayRefusalOf(const QString& address, const QString& key);

} // namespace relaycast
