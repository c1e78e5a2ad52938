// The version rules on arbitrary texts, read as up to three lines a, b and c: a parsed version
// has one to four groups of at most four digits, surrounding white space does not matter,
// "newer" is a strict order in which a missing group counts as 0, and an accepted download
// address is always on the maker's host without white space.

#include "update/update_endpoint.h"
#include "update/version_rules.h"

#include "fuzz_support.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace relaycast;

namespace {

// The groups padded with zeros to four.
std::vector<int> padded(std::vector<int> groups) {
    groups.resize(4, 0);
    return groups;
}

void checkVersion(const QString& a) {
    const auto groups = parseVersion(a);
    FUZZ_CHECK(parseVersion(QStringLiteral(" \t") + a + QStringLiteral("\r\n ")) == groups);
    FUZZ_CHECK(!isNewerVersion(a, a));
    if (!groups)
        return;
    FUZZ_CHECK(!groups->empty() && groups->size() <= 4);
    for (int group : *groups)
        FUZZ_CHECK(group >= 0 && group <= 9999);
    if (groups->size() < 4) {
        const QString longer = a.trimmed() + QStringLiteral(".0");
        FUZZ_CHECK(!isNewerVersion(longer, a) && !isNewerVersion(a, longer));
    }
}

void checkOrder(const QString& a, const QString& b, const QString& c) {
    const bool ab = isNewerVersion(a, b);
    const bool ba = isNewerVersion(b, a);
    FUZZ_CHECK(!(ab && ba));
    if (ab && isNewerVersion(b, c))
        FUZZ_CHECK(isNewerVersion(a, c));
    const auto pa = parseVersion(a);
    const auto pb = parseVersion(b);
    if (pa && pb && !ab && !ba)
        FUZZ_CHECK(padded(*pa) == padded(*pb));
    if (pa && pb && ab)
        FUZZ_CHECK(padded(*pa) > padded(*pb));
}

void checkDownloadAddress(const QString& url) {
    if (!isAcceptedDownloadUrl(url))
        return;
    FUZZ_CHECK(url.startsWith(QStringLiteral("https://") + QString::fromLatin1(kUpdateHost) +
                              QLatin1Char('/')));
    for (QChar c : url)
        FUZZ_CHECK(!c.isSpace());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size))
            .split(QLatin1Char('\n'));
    const QString a = lines.value(0);
    const QString b = lines.value(1);
    const QString c = lines.value(2);
    for (const QString& text : {a, b, c}) {
        checkVersion(text);
        checkDownloadAddress(text);
    }
    checkOrder(a, b, c);
    checkOrder(b, c, a);
    checkOrder(c, a, b);
    return 0;
}
