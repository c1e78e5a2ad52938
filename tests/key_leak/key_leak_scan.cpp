// Searches every log of a test run for every stream key, passphrase and address query the
// tests use. ctest runs it after all other tests (see cmake/key_leak_scan.cmake).
//
//   key_leak_scan TEST_SOURCES PRODUCT_SOURCES CTEST_TEMPORARY_FOLDER [LOG_FOLDER]
//
// The secrets are read from the test sources by these rules, so a new test's secrets are
// searched without a list to keep:
//   json      members "clave" and "contrasena" of JSON texts (C++ literals, shell here-documents)
//   dest      the third and fourth arguments (key, passphrase) of DestConfig{...} and of the
//             stream helper destination(...)
//   named     literals given to a name that says key, clave, passphrase, contrasena, password
//             or secret, and the first literal given to protectSecret, sealSecret or playUrl
//   query     the query of every rtmp://, rtmps:// and srt:// address literal, whole and each
//             value in it
//   shell     words of a plain_secrets=(...) list and key=... assignments in shell tests
// A rule that finds nothing fails the scan: the tests changed and the rule must follow.
//
// A secret of at least 8 characters, without spaces, that no product source contains is
// searched everywhere in the logs. A shorter or ordinary one ("k", "edit", "clave", "plain key")
// would be found in innocent text, so it is searched where a leaked key shows up: as a path
// segment or query value of an address in the log, or after "key", "clave", "passphrase" or
// "password" and "=" or ":".
//
// The host's outputs log the address they connect to as they were given it, query included
// (obs-outputs' "Connecting to RTMP URL ..." and "Connection to ... successful", obs-ffmpeg's
// libsrt "Connection to srt://... failed"); the editor warns users that OBS does so. Those lines
// are searched only for what the tests give as key and passphrase fields. obs-ffmpeg's librist
// lines ("Failed to parse url: ...", "Failed to close properly ...") are searched for everything:
// the address a RIST output gets carries the secret field.
//
// The logs: ctest's log of the running session (it writes LastTest.log.tmp and renames it only
// when the session ends, flushing after each test) and every file in LOG_FOLDER, where tests
// that drive the OBS program keep its logs.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <cstdio>

namespace {

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every match of `pattern` in `text` (Qt 5's match iterator has no range-for).
QList<QRegularExpressionMatch> allMatches(const QRegularExpression& pattern, const QString& text) {
    QList<QRegularExpressionMatch> matches;
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        matches << it.next();
    return matches;
}

QStringList filesUnder(const QString& folder, const QStringList& patterns) {
    QStringList files;
    QDirIterator it(folder, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// The arguments of a call or brace list starting after its opening bracket at `from`, split at
// top-level commas; string literals and nested brackets are kept whole.
QStringList arguments(const QString& text, int from) {
    QStringList args;
    QString current;
    int depth = 0;
    bool inString = false;
    for (int i = from; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inString) {
            current += c;
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                current += text[++i];
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('(') || c == QLatin1Char('{') || c == QLatin1Char('[')) {
            ++depth;
        } else if (c == QLatin1Char(')') || c == QLatin1Char('}') || c == QLatin1Char(']')) {
            if (depth-- == 0) {
                args << current.trimmed();
                return args;
            }
        } else if (c == QLatin1Char(',') && depth == 0) {
            args << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    return args;
}

// The text of an argument that is a plain string literal (also inside QStringLiteral(...) and
// the like); empty otherwise.
QString literalOf(const QString& argument) {
    static const QRegularExpression literal(
        QStringLiteral(R"re(^(?:\w+(?:::\w+)*\()?\s*"((?:[^"\\]|\\.)*)"\s*\)?$)re"));
    const auto match = literal.match(argument);
    return match.hasMatch() ? match.captured(1) : QString();
}

class SecretCollector {
public:
    void scanSource(const QString& text) {
        collectJson(text);
        collectDestinations(text);
        collectNamed(text);
        collectQueries(text);
        collectShell(text);
    }

    const QMap<QString, QSet<QString>>& byRule() const { return byRule_; }

private:
    void add(const char* rule, QString secret) {
        secret.replace(QLatin1String("\\\""), QLatin1String("\""));
        static const QRegularExpression letterOrDigit(QStringLiteral("[A-Za-z0-9]"));
        if (!secret.contains(letterOrDigit) || secret.contains(QLatin1Char('\n')) ||
            secret.startsWith(QLatin1String("dpapi:")) || secret.contains(QLatin1Char('$')) ||
            secret.contains(QLatin1Char('%')))
            return; // stored (protected) forms, and texts the test fills in at run time
        byRule_[QString::fromLatin1(rule)].insert(secret);
    }

    void collectJson(const QString& text) {
        static const QRegularExpression member(QStringLiteral(
            R"re(\\?"(?:clave|contrasena)\\?"\s*:\s*\\?"((?:[^"\\]|\\[^"])*)\\?")re"));
        for (const auto& m : allMatches(member, text))
            add("json", m.captured(1));
    }

    void collectDestinations(const QString& text) {
        static const QRegularExpression call(
            QStringLiteral(R"re(\b(?:DestConfig|destination)\s*[({])re"));
        for (const auto& m : allMatches(call, text)) {
            const QStringList args = arguments(text, m.capturedEnd());
            for (int i = 2; i < 4 && i < args.size(); ++i)
                add("dest", literalOf(args[i]));
        }
    }

    void collectNamed(const QString& text) {
        static const QRegularExpression named(QStringLiteral(
            R"re((?i)\b\w*(?:key|clave|passphrase|contrasena|password|secret)\w*\s*(?:=|\(|\{)\s*)re"
            R"re((?:\w+(?:::\w+)*\(\s*)?"((?:[^"\\]|\\.)*)")re"));
        for (const auto& m : allMatches(named, text))
            add("named", m.captured(1));
        static const QRegularExpression given(
            QStringLiteral(R"re(\b(?:protectSecret|sealSecret|playUrl)\s*\()re"));
        for (const auto& m : allMatches(given, text)) {
            const QStringList args = arguments(text, m.capturedEnd());
            if (!args.isEmpty())
                add("named", literalOf(args.first()));
        }
    }

    // Addresses with a host: a test server's own listening address (srt://:PORT?mode=listener)
    // is no destination.
    void collectQueries(const QString& text) {
        static const QRegularExpression address(
            QStringLiteral(R"re((?i)(?:rtmps?|srt)://[^\s"'?:/][^\s"'?]*\?([^\s"'\\]+))re"));
        for (const auto& m : allMatches(address, text)) {
            const QString query = m.captured(1);
            add("query", query);
            for (const QString& pair : query.split(QRegularExpression(QStringLiteral("[&?]"))))
                add("query", pair.section(QLatin1Char('='), 1));
        }
    }

    void collectShell(const QString& text) {
        static const QRegularExpression list(QStringLiteral(R"re(plain_secrets=\(([^)]*)\))re"));
        for (const auto& m : allMatches(list, text))
            for (const QString& word : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                add("shell", word);
        static const QRegularExpression assignment(QStringLiteral(R"re((?m)^\s*key=([^\s;]+))re"));
        for (const auto& m : allMatches(assignment, text))
            add("shell", m.captured(1));
    }

    QMap<QString, QSet<QString>> byRule_;
};

struct Hit {
    QString file;
    int line;
    QString secret;
};

// Where a short or ordinary secret shows up when it leaks: inside an address, or named.
QRegularExpression leakContext(const QString& secret) {
    const QString s = QRegularExpression::escape(secret);
    return QRegularExpression(
        QStringLiteral(R"re((?i)(?:(?:rtmps?|srt|rist)://[^\s"'»]*[/?&=])%1(?=$|[\s"'»/?&,;)]))re"
                       R"re(|(?:key|clave|passphrase|password)\s*[=:]\s*"?%1(?=$|[\s"'»&,;)]))re")
            .arg(s));
}

// A line in which the host quotes the address one of its outputs connects to.
bool hostQuotesItsAddress(const QString& line) {
    static const QRegularExpression pattern(QStringLiteral(
        R"re(^\w+: (?:\[rtmp stream: '[^']*'\] (?:Connecting to RTMP URL|Connection to) )re"
        R"re(|\[obs-ffmpeg mpegts muxer / libsrt\]: Connection to srt://))re"));
    return pattern.match(line).hasMatch();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s TEST_SOURCES PRODUCT_SOURCES CTEST_TEMPORARY [LOGS]\n",
                     argv[0]);
        return 2;
    }
    const QString testSources = QFile::decodeName(argv[1]);
    const QString productSources = QFile::decodeName(argv[2]);
    const QString ctestTemporary = QFile::decodeName(argv[3]);
    const QString logFolder = argc > 4 ? QFile::decodeName(argv[4]) : QString();

    SecretCollector collector;
    const QStringList sources = filesUnder(
        testSources, {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.sh")});
    for (const QString& source : sources)
        collector.scanSource(readText(source));

    int failures = 0;
    QSet<QString> secrets;
    for (const char* rule : {"json", "dest", "named", "query", "shell"}) {
        const QSet<QString> found = collector.byRule().value(QString::fromLatin1(rule));
        std::printf("rule %-6s %3lld secrets\n", rule, static_cast<long long>(found.size()));
        if (found.isEmpty()) {
            std::printf("FAIL: rule %s found no secret in the test sources\n", rule);
            ++failures;
        }
        secrets.unite(found);
    }
    // What the tests give as a key or passphrase field, searched in every line.
    QSet<QString> fieldSecrets;
    for (const char* rule : {"json", "dest", "shell"})
        fieldSecrets.unite(collector.byRule().value(QString::fromLatin1(rule)));

    QString product;
    for (const QString& source : filesUnder(productSources, {QStringLiteral("*")}))
        product += readText(source);
    QStringList distinctive;
    QStringList ordinary;
    for (const QString& secret : secrets)
        (secret.size() >= 8 && !secret.contains(QLatin1Char(' ')) && !product.contains(secret)
             ? distinctive
             : ordinary)
            << secret;

    QStringList logs = filesUnder(ctestTemporary, {QStringLiteral("LastTest*.log.tmp")});
    if (logs.isEmpty()) // run by hand after a session
        logs = filesUnder(ctestTemporary, {QStringLiteral("LastTest*.log")});
    if (!logFolder.isEmpty())
        logs += filesUnder(logFolder, {QStringLiteral("*")});
    if (logs.isEmpty()) {
        std::printf("FAIL: no log to search in %s\n", qPrintable(ctestTemporary));
        return 1;
    }

    QList<QPair<QString, QRegularExpression>> contexts;
    for (const QString& secret : ordinary)
        contexts.append({secret, leakContext(secret)});
    QList<Hit> hits;
    qint64 lines = 0;
    for (const QString& log : logs) {
        const QStringList text = readText(log).split(QLatin1Char('\n'));
        for (int i = 0; i < text.size(); ++i) {
            const QString& line = text[i];
            ++lines;
            const bool hostAddressLine = hostQuotesItsAddress(line);
            const auto searched = [&](const QString& secret) {
                return line.contains(secret) && (!hostAddressLine || fieldSecrets.contains(secret));
            };
            for (const QString& secret : distinctive)
                if (searched(secret))
                    hits.append({log, i + 1, secret});
            for (const auto& [secret, context] : contexts)
                if (searched(secret) && context.match(line).hasMatch())
                    hits.append({log, i + 1, secret});
        }
    }

    std::printf("searched %lld lines of %lld logs for %lld secrets (%lld everywhere, %lld in "
                "address and key contexts) from %lld test sources\n",
                static_cast<long long>(lines), static_cast<long long>(logs.size()),
                static_cast<long long>(secrets.size()), static_cast<long long>(distinctive.size()),
                static_cast<long long>(ordinary.size()), static_cast<long long>(sources.size()));
    for (const Hit& hit : hits)
        std::printf("LEAK: %s:%d holds a secret of the tests (%lld characters, starts \"%s\")\n",
                    qPrintable(hit.file), hit.line, static_cast<long long>(hit.secret.size()),
                    qPrintable(hit.secret.left(2)));
    std::printf("%lld hits\n", static_cast<long long>(hits.size()));
    return failures == 0 && hits.isEmpty() ? 0 : 1;
}
