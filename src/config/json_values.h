#pragma once

#include <QJsonValue>
#include <QString>

#include <cstdint>

namespace relaycast {

// Typed reads of settings-file values: an absent value or one of the wrong JSON type gives the
// fallback, so a hand-edited file never fails a load.
QString jsonString(const QJsonValue& value, const QString& fallback = {});
bool jsonBool(const QJsonValue& value, bool fallback);

// A whole number representable as a 32-bit signed integer, else the fallback (4000.5 or
// 3000000000 read as the fallback).
int32_t jsonInt32(const QJsonValue& value, int32_t fallback);

// jsonInt32 followed by a clamp to [low, high].
int32_t jsonClampedInt32(const QJsonValue& value, int32_t fallback, int32_t low, int32_t high);

} // namespace relaycast
