#include "config/json_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace relaycast {

QString jsonString(const QJsonValue& value, const QString& fallback) {
    return value.isString() ? value.toString() : fallback;
}

bool jsonBool(const QJsonValue& value, bool fallback) {
    return value.isBool() ? value.toBool() : fallback;
}

int32_t jsonInt32(const QJsonValue& value, int32_t fallback) {
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return fallback;
    if (number < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        number > static_cast<double>(std::numeric_limits<int32_t>::max()))
        return fallback;
    return static_cast<int32_t>(number);
}

int32_t jsonClampedInt32(const QJsonValue& value, int32_t fallback, int32_t low, int32_t high) {
    return std::clamp(jsonInt32(value, fallback), low, high);
}

} // namespace relaycast
