#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace relaycast {

// One to four groups of one to four decimal digits separated by ".", after trimming surrounding
// white space; nothing else is a version.
std::optional<std::vector<int>> parseVersion(const QString& text);

// True when `a` is a later version than `b`, comparing group by group with missing groups as 0.
// False when either is not a version.
bool isNewerVersion(const QString& a, const QString& b);

// A download address the banner may open: "https://" + host + "/" at the start (case-sensitive)
// and no white space anywhere.
bool isAcceptedDownloadUrl(const QString& url, const QString& host);
// The same for the maker's web host.
bool isAcceptedDownloadUrl(const QString& url);

} // namespace relaycast
