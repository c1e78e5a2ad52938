// The address rules on arbitrary text: classification ignores surrounding white space and the
// letter case of the scheme, the editor's check agrees with the classification, and masking
// never lets a query's value through.
//
// The input is read twice: as one text for the rules, and as lines
// "scheme \n host-and-path \n query value \n terminator \n text before \n text after" from which
// an address with a query is built and embedded in the surrounding text.

#include "address/address.h"

#include "fuzz_support.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace relaycast;

namespace {

// What ends an address's query in a log line: ASCII white space, », " and '.
bool endsQuery(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\v') || c == QLatin1Char('\f') || c == QLatin1Char('\r') ||
           c == QChar(0x00BB) || c == QLatin1Char('"') || c == QLatin1Char('\'');
}

QString without(const QString& text, bool (*drop)(QChar)) {
    QString kept;
    for (QChar c : text)
        if (!drop(c))
            kept += c;
    return kept;
}

QString asciiUpper(const QString& text) {
    QString upper = text;
    for (QChar& c : upper)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return upper;
}

void checkRules(const QString& text) {
    const AddressKind kind = classifyAddress(text);
    FUZZ_CHECK(classifyAddress(QStringLiteral(" \t") + text + QStringLiteral("\n ")) == kind);
    FUZZ_CHECK(classifyAddress(asciiUpper(text)) == kind);

    const QString trimmed = text.trimmed();
    const QString message = validateDestinationAddress(trimmed, 3);
    FUZZ_CHECK(message.isEmpty() || message.startsWith(QStringLiteral("Destino 3: ")));
    switch (kind) {
    case AddressKind::Invalid:
        FUZZ_CHECK(!message.isEmpty());
        break;
    case AddressKind::SRT:
        // The host's SRT library needs a port.
        FUZZ_CHECK(message.isEmpty() == (addressPort(trimmed) != 0));
        break;
    case AddressKind::RTMP:
        FUZZ_CHECK(
            message.isEmpty() ==
            (trimmed.indexOf(QLatin1Char('/'), trimmed.indexOf(QLatin1String("://")) + 3) >= 0));
        break;
    }

    // Masking only ever shortens queries to "?…"; a text without "?" stays as it is.
    const QString masked = maskAddressQueries(text);
    if (!text.contains(QLatin1Char('?')))
        FUZZ_CHECK(masked == text);
    FUZZ_CHECK(maskAddressQueries(masked) == masked);
}

// A query value embedded in any text is masked away: what is left of it can only come from
// the text around it.
void checkQueryMasked(const QStringList& fields) {
    if (fields.size() < 6)
        return;
    const QString scheme = fields[0].toLower();
    if (scheme != QLatin1String("rtmp") && scheme != QLatin1String("rtmps") &&
        scheme != QLatin1String("srt"))
        return;
    const QString host =
        without(fields[1], [](QChar c) { return endsQuery(c) || c == QLatin1Char('?'); });
    // A value holding "?" or "…" could be confused with the mask itself.
    const QString value = without(fields[2], [](QChar c) {
        return endsQuery(c) || c == QLatin1Char('?') || c == QChar(0x2026);
    });
    const QString terminator =
        fields[3].isEmpty() || !endsQuery(fields[3][0]) ? QString() : QString(fields[3][0]);
    const QString& before = fields[4];
    const QString after = fields.mid(5).join(QLatin1Char('\n'));
    if (value.isEmpty())
        return;
    const QString address = fields[0] + QStringLiteral("://") + host;
    const QString text = before + address + QLatin1Char('?') + value + terminator + after;
    const QString masked = maskAddressQueries(text);
    if (!(before + address + terminator + after).contains(value))
        FUZZ_CHECK(!masked.contains(value));
    FUZZ_CHECK(masked.contains(address + QStringLiteral("?…")) ||
               before.contains(QLatin1Char('?')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    checkRules(text);
    checkQueryMasked(text.split(QLatin1Char('\n')));
    return 0;
}
