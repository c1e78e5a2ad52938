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
    bool unprotectFailed = false;   // some stored secret could not be opened
    bool needsReprotection = false; // some secret is stored in the clear and should be rewritten
};

// Reads the top-level object of a settings file with every default, clamp and skip rule.
// Secrets come back as plain text.
ReadConfig readConfigDocument(const QJsonObject& root);

// Builds the top-level object of a settings file, protecting the secrets.
QJsonObject writeConfigDocument(const QMap<QString, CollectionConfig>& collections,
                                const QList<EncoderProfile>& profiles);

} // namespace relaycast
