// What happens to the entries when the host renames, duplicates, creates, switches and removes
// scene collections, fed in the orders the host lines were seen to use (their event logs in the
// end-to-end test), and in orders no line is known to use but a newer one might.
#include "config/collection_follower.h"
#include "config/config_store.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <cctype>
#include <functional>
#include <ostream>

namespace relaycast {
namespace {

using Moment = CollectionFollower::Moment;

struct Host {
    QString current = QStringLiteral("A");
    QStringList listed{QStringLiteral("A"), QStringLiteral("B")};
};

// One step as the host takes it.
using Step = std::function<void(CollectionFollower&, Host&)>;

Step rename(const QString& to) {
    return [to](CollectionFollower&, Host& host) {
        host.listed.replaceInStrings(QRegularExpression(QStringLiteral("^") + host.current + "$"),
                                     to);
        host.current = to;
    };
}
Step name(const QString& to) {
    return [to](CollectionFollower&, Host& host) { host.current = to; };
}
Step list(const QStringList& names) {
    return [names](CollectionFollower&, Host& host) { host.listed = names; };
}
Step follow(Moment moment) {
    return [moment](CollectionFollower& follower, Host& host) {
        follower.follow({host.current, host.listed}, moment);
    };
}
const Step changing = [](CollectionFollower& f, Host&) { f.changing(); };
const Step cleanup = [](CollectionFollower& f, Host&) { f.scenesCleared(); };
Step load(const QString& mark) {
    return [mark](CollectionFollower& f, Host& host) {
        f.collectionLoaded(mark);
        f.follow({host.current, host.listed}, Moment::Event);
    };
}
const Step save = follow(Moment::Saving);
const Step event = follow(Moment::Event);

struct Case {
    const char* what;
    std::vector<Step> steps;
    const char* followed;
    // Collection -> "A's" (the entries A had, same ids), "B's", "copy" (new ids), "none".
    std::vector<std::pair<const char*, const char*>> expected;
    QStringList setAside;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

class CollectionFollowing : public ::testing::TestWithParam<Case> {};

TEST_P(CollectionFollowing, EntriesGoWhereTheirCollectionWent) {
    const Case& c = GetParam();
    ConfigStore store(QStringLiteral("/nonexistent/salidas.json"));
    EntryConfig one;
    one.id = QStringLiteral("e1");
    one.fuente = QStringLiteral("Escena");
    store.entriesOf(QStringLiteral("A")) << one;
    EntryConfig other = one;
    other.id = QStringLiteral("b1");
    store.entriesOf(QStringLiteral("B")) << other;

    CollectionFollower follower(store);
    Host host;
    follower.follow({host.current, host.listed}, Moment::Event);
    for (const Step& step : c.steps)
        step(follower, host);

    EXPECT_EQ(store.followedCollection(), QString::fromUtf8(c.followed)) << c.what;
    for (const auto& [collection, content] : c.expected) {
        const CollectionConfig entries = store.collections().value(QString::fromUtf8(collection));
        const QString id = entries.isEmpty() ? QString() : entries.front().id;
        const QString kind = id.isEmpty()                ? QStringLiteral("none")
                             : id == QLatin1String("e1") ? QStringLiteral("A's")
                             : id == QLatin1String("b1") ? QStringLiteral("B's")
                                                         : QStringLiteral("copy");
        EXPECT_EQ(kind, QString::fromUtf8(content)) << c.what << ": collection " << collection;
    }
    QStringList aside;
    for (const SetAsideEntries& group : store.setAside())
        aside << group.coleccion;
    EXPECT_EQ(aside, c.setAside) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    HostOrders, CollectionFollowing,
    ::testing::Values(
        // OBS 29 and 30: the new name is current during the save, the old file still listed.
        Case{"rename (29, 30)",
             {name("R"), save, list({"B", "R"}), follow(Moment::Renamed)},
             "R",
             {{"R", "A's"}, {"A", "none"}, {"B", "B's"}}},
        // A rename whose list has lost the old name by the save, and no rename event at all.
        Case{"rename, list first, no event",
             {rename("R"), save, event},
             "R",
             {{"R", "A's"}, {"A", "none"}}},
        Case{"duplicate (29, 30)",
             {changing, save, name("C"), save, list({"A", "B", "C"}), event, event},
             "C",
             {{"A", "A's"}, {"C", "copy"}}},
        Case{"new (29, 30)",
             {changing, save, name("N"), cleanup, save, list({"A", "B", "N"}), event, event},
             "N",
             {{"A", "A's"}, {"N", "none"}}},
        // The new collection takes the name of one removed while the plug-in did not see it.
        Case{"new under a name whose entries are still stored",
             {changing, save, name("B"), cleanup, save, event},
             "B",
             {{"A", "A's"}, {"B", "none"}},
             {"B"}},
        Case{"switch",
             {changing, save, cleanup, name("B"), load("B"), event},
             "B",
             {{"A", "A's"}, {"B", "B's"}}},
        // Remove: the file is gone before the next collection is loaded.
        Case{"remove (29, 30)",
             {changing, list({"B"}), cleanup, name("B"), load("B"), event, event},
             "B",
             {{"A", "none"}},
             {"A"}},
        // OBS 32: the save runs under the old name with the new file listed already, then the
        // scenes are cleared and the copy is loaded; the rename is announced last.
        Case{"rename (32)",
             {list({"A", "B", "R"}), save, cleanup, rename("R"), list({"B", "R"}), load("A"), event,
              event, follow(Moment::Renamed)},
             "R",
             {{"R", "A's"}, {"A", "none"}}},
        Case{"duplicate (32)",
             {list({"A", "B", "C"}), save, save, cleanup, name("C"), load("A"), event, event},
             "C",
             {{"A", "A's"}, {"C", "copy"}}},
        Case{"new (32)",
             {changing, list({"A", "B", "N"}), save, cleanup, name("N"), event, event, save},
             "N",
             {{"A", "A's"}, {"N", "none"}}},
        // A rename the plug-in did not see (another version ran): the file's mark tells.
        Case{"rename found by the mark",
             {changing, rename("R"), cleanup, load("A"), event},
             "R",
             {{"R", "A's"}, {"A", "none"}}},
        Case{"duplicate found by the mark",
             {changing, name("C"), list({"A", "B", "C"}), cleanup, load("A"), event},
             "C",
             {{"A", "A's"}, {"C", "copy"}}}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string name = param.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

} // namespace
} // namespace relaycast
