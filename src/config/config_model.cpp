#include "config/config_model.h"

#include <QUuid>

namespace relaycast {

QString newConfigId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace relaycast
