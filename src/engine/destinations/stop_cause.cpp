#include "engine/destinations/stop_cause.h"

#include <obs-defs.h>

namespace relaycast {

int engineStopCode(int hostCode, const QString& lastError, const QStringList& certificateTexts) {
    if (hostCode == OBS_OUTPUT_SUCCESS || lastError.isEmpty())
        return hostCode;
    const QString text = lastError.trimmed();
    for (const QString& certificate : certificateTexts) {
        if (!certificate.isEmpty() && text.compare(certificate.trimmed(), Qt::CaseInsensitive) == 0)
            return kStopCertificateRejected;
    }
    return hostCode;
}

} // namespace relaycast
