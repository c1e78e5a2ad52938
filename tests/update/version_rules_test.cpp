// The rules that decide whether a published manifest is worth telling the user about.

#include "update/update_endpoint.h"
#include "update/update_manifest.h"
#include "update/version_rules.h"

#include <gtest/gtest.h>

#include <vector>

using namespace relaycast;

namespace {

const QString kOwn = QStringLiteral("1.0.3");
const QString kHost = QString::fromLatin1(kUpdateHost);
const QString kGoodUrl =
    QStringLiteral("https://updates.relaycast.app/relaycast/relaycast-1.1.deb");

QByteArray manifest(const char* version, const char* url) {
    return QByteArray("{\"version\": \"") + version + "\", \"url\": \"" + url + "\"}";
}

} // namespace

TEST(ParseVersion, AcceptsOneToFourGroupsOfOneToFourDigits) {
    EXPECT_EQ(parseVersion(QStringLiteral("7")), (std::vector<int>{7}));
    EXPECT_EQ(parseVersion(QStringLiteral("1.0.3")), (std::vector<int>{1, 0, 3}));
    EXPECT_EQ(parseVersion(QStringLiteral("9999.0.0010.1")), (std::vector<int>{9999, 0, 10, 1}));
}

TEST(ParseVersion, TrimsSurroundingWhiteSpace) {
    EXPECT_EQ(parseVersion(QStringLiteral("  1.1  ")), (std::vector<int>{1, 1}));
    EXPECT_EQ(parseVersion(QStringLiteral("\t2.0\n")), (std::vector<int>{2, 0}));
}

TEST(ParseVersion, RejectsEverythingElse) {
    for (const char* text : {"", " ", "v1.2", "1.2-beta", "12345.0", "1.2.3.4.5", "1..2", "1.",
                             ".1", "1.2 .3", "1,2", "+1.2", "-1.2", "1.2a", "1e3", "0x10"})
        EXPECT_FALSE(parseVersion(QString::fromLatin1(text))) << text;
    // Only ASCII digits count.
    EXPECT_FALSE(parseVersion(QString::fromUtf8("١.٢")));
    EXPECT_FALSE(parseVersion(QString::fromUtf8("１.２")));
}

TEST(IsNewerVersion, ComparesGroupByGroupWithMissingGroupsAsZero) {
    EXPECT_TRUE(isNewerVersion(QStringLiteral("1.0.10"), kOwn));
    EXPECT_TRUE(isNewerVersion(QStringLiteral("2"), QStringLiteral("1.9.9")));
    EXPECT_TRUE(isNewerVersion(QStringLiteral("1.0.3.1"), kOwn));
    EXPECT_TRUE(isNewerVersion(QStringLiteral("1.1"), kOwn));
    EXPECT_TRUE(isNewerVersion(QStringLiteral(" 1.1 "), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1.0.3.0"), kOwn));
    EXPECT_FALSE(isNewerVersion(kOwn, QStringLiteral("1.0.3.0")));
    EXPECT_FALSE(isNewerVersion(kOwn, kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1.0.2"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("0.9999"), kOwn));
}

TEST(IsNewerVersion, IsFalseWhenEitherSideIsNoVersion) {
    EXPECT_FALSE(isNewerVersion(QStringLiteral("v2.0"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("2.0-beta"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("12345.0"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("1.2.3.4.5"), kOwn));
    EXPECT_FALSE(isNewerVersion(QStringLiteral("2.0"), QStringLiteral("dev")));
}

TEST(IsAcceptedDownloadUrl, NeedsHttpsTheHostASlashAndNoWhiteSpace) {
    EXPECT_TRUE(isAcceptedDownloadUrl(kGoodUrl));
    EXPECT_TRUE(isAcceptedDownloadUrl(QStringLiteral("https://updates.relaycast.app/")));
    EXPECT_TRUE(isAcceptedDownloadUrl(QStringLiteral("https://updates.relaycast.app/a?b=c#d")));

    for (const char* url : {
             "",
             "http://updates.relaycast.app/relaycast.deb",
             "https://updates.relaycast.app",
             "https://updates.relaycast.app.evil.example/relaycast.deb",
             "https://updates.relaycast.app:8443/relaycast.deb",
             "https://user@updates.relaycast.app/relaycast.deb",
             "https://evil.example/https://updates.relaycast.app/",
             "HTTPS://updates.relaycast.app/relaycast.deb",
             "https://Updates.Relaycast.App/relaycast.deb",
             " https://updates.relaycast.app/relaycast.deb",
             "https://updates.relaycast.app/relay cast.deb",
             "https://updates.relaycast.app/relaycast.deb\t",
             "https://updates.relaycast.app/relaycast.deb\nhttps://evil.example/",
             "file:///home/user/relaycast.deb",
         })
        EXPECT_FALSE(isAcceptedDownloadUrl(QString::fromLatin1(url))) << url;
}

TEST(IsAcceptedDownloadUrl, TheHostIsAParameter) {
    EXPECT_TRUE(isAcceptedDownloadUrl(QStringLiteral("https://mirror.test/x.deb"),
                                      QStringLiteral("mirror.test")));
    EXPECT_FALSE(isAcceptedDownloadUrl(kGoodUrl, QStringLiteral("mirror.test")));
    EXPECT_FALSE(isAcceptedDownloadUrl(QStringLiteral("https:///x"), QString()));
}

TEST(ReadUpdateOffer, ANewerVersionWithAnAcceptedAddressIsOffered) {
    const auto offer = readUpdateOffer("{\"version\": \"  1.1  \", \"url\": \" " +
                                           kGoodUrl.toLatin1() + "\n\", \"notes\": 3}",
                                       kOwn, kHost);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->version, QStringLiteral("1.1"));
    EXPECT_EQ(offer->url, kGoodUrl);
}

TEST(ReadUpdateOffer, NothingIsOfferedForAVersionThatIsNotNewerOrNotAVersion) {
    const QByteArray url = kGoodUrl.toLatin1();
    for (const char* version :
         {"1.0.3", "1.0.3.0", "1.0.2", "v1.1", "1.1-beta", "12345.0", "1.2.3.4.5", ""})
        EXPECT_FALSE(readUpdateOffer(manifest(version, url.constData()), kOwn, kHost)) << version;
}

TEST(ReadUpdateOffer, NothingIsOfferedForARejectedAddress) {
    for (const char* url : {"http://updates.relaycast.app/r.deb", "https://evil.example/r.deb",
                            "https://updates.relaycast.app/r 1.deb", ""})
        EXPECT_FALSE(readUpdateOffer(manifest("2.0", url), kOwn, kHost)) << url;
}

TEST(ReadUpdateOffer, NothingIsOfferedForABodyThatIsNotAManifestObject) {
    const QByteArray url = kGoodUrl.toLatin1();
    const QByteArray whole = manifest("2.0", url.constData());
    ASSERT_TRUE(readUpdateOffer(whole, kOwn, kHost));
    for (const QByteArray& body :
         {QByteArray(), QByteArray("[\"2.0\", \"" + url + "\"]"), QByteArray("\"2.0\""),
          QByteArray("null"), QByteArray("<html>2.0</html>"), whole.left(whole.size() - 1),
          whole + "x", QByteArray("{\"version\": 2.0, \"url\": \"" + url + "\"}"),
          QByteArray("{\"version\": \"2.0\", \"url\": [\"" + url + "\"]}"),
          QByteArray("{\"url\": \"" + url + "\"}"), QByteArray("{\"version\": \"2.0\"}")})
        EXPECT_FALSE(readUpdateOffer(body, kOwn, kHost)) << body.constData();
}

TEST(ReadUpdateOffer, AddressesAreJudgedAgainstTheGivenHost) {
    const QByteArray body = manifest("2.0", "https://mirror.test/r.deb");
    EXPECT_FALSE(readUpdateOffer(body, kOwn, kHost));
    EXPECT_TRUE(readUpdateOffer(body, kOwn, QStringLiteral("mirror.test")));
}
