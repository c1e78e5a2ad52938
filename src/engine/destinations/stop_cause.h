#pragma once

#include <QString>
#include <QStringList>

namespace relaycast {

// The host reports a server certificate it did not accept (nobody trusted signed it, it expired,
// it is for another name) as a failed connection, the code of a server that is down, and tells
// it apart only by its last error text, in its module's language. The engine's own code for it,
// outside the host's range, lets the stop rules treat it as the final failure it is.
constexpr int kStopCertificateRejected = -1000;

// The code the engine goes by: kStopCertificateRejected when the host's text is one of
// `certificateTexts`, else the host's own code.
int engineStopCode(int hostCode, const QString& lastError, const QStringList& certificateTexts);

} // namespace relaycast
