#include "update/version_rules.h"

#include "update/update_endpoint.h"

#include <QRegularExpression>

#include <algorithm>

namespace relaycast {

std::optional<std::vector<int>> parseVersion(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,4}(\\.\\d{1,4}){0,3}$"));
    const QString trimmed = text.trimmed();
    if (!pattern.match(trimmed).hasMatch())
        return std::nullopt;
    std::vector<int> groups;
    const QStringList parts = trimmed.split(QLatin1Char('.'));
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
        groups.push_back(value);
    }
    return groups;
}

bool isNewerVersion(const QString& a, const QString& b) {
    const auto left = parseVersion(a);
    const auto right = parseVersion(b);
    if (!left || !right)
        return false;
    const size_t groups = std::max(left->size(), right->size());
    for (size_t i = 0; i < groups; ++i) {
        const int x = i < left->size() ? (*left)[i] : 0;
        const int y = i < right->size() ? (*right)[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

bool isAcceptedDownloadUrl(const QString& url, const QString& host) {
    if (host.isEmpty())
        return false;
    const QString prefix = QStringLiteral("https://") + host + QLatin1Char('/');
    if (!url.startsWith(prefix, Qt::CaseSensitive))
        return false;
    return std::none_of(url.cbegin(), url.cend(), [](QChar c) { return c.isSpace(); });
}

bool isAcceptedDownloadUrl(const QString& url) {
    return isAcceptedDownloadUrl(url, QString::fromLatin1(kUpdateHost));
}

} // namespace relaycast
