#pragma once

#include "config/config_model.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

namespace relaycast {

// What a settings document holds once read, plus what the reader noticed about its secrets.
struct ReadConfig {
    QMap<QString, CollectionConfig> collections;
    QList<EncoderProfile> profiles;
    QList<SetAsideEntries> setAside;
    bool unprotectFailed = false;   // some stored secret could not be opened
    bool needsReprotection = false; // some secret is stored in the clear and should be rewritten
};

// Reads the top-level object of a settings file with every default, clamp and skip rule.
// Secrets come back as plain text.
ReadConfig readConfigDocument(const QJsonObject& root);

// What writing a settings document had to do with secrets it could not protect.
struct WriteOutcome {
    bool storedInClear = false; // some secret went out in the clear (no usable protection)
};

// Builds the top-level object of a settings file, protecting the secrets. A secret that could
// not be opened when read is written back as it was stored until the user replaced it; a value
// that was stored protected is never written in the clear (its old protected form is kept).
QJsonObject writeConfigDocument(const QMap<QString, CollectionConfig>& collections,
                                const QList<EncoderProfile>& profiles,
                                const QList<SetAsideEntries>& setAside = {},
                                WriteOutcome* outcome = nullptr);

} // namespace relaycast
