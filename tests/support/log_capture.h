#pragma once

#include <QString>
#include <QStringList>

#include <cstdarg>
#include <mutex>

namespace relaycast::test {

// Captures host log lines (from any thread) while alive; the host's original handler is
// restored when the last capture goes. Lines are also passed on to the original handler so
// test output keeps them.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    // Lines at one host level (LOG_ERROR, LOG_WARNING, LOG_INFO, LOG_DEBUG).
    QStringList linesAt(int level) const;
    bool contains(const QString& text) const;
    int count(const QString& text) const;
    void clear();

private:
    static void handler(int level, const char* format, va_list args, void* param);

    struct Line {
        int level;
        QString text;
    };
    mutable std::mutex lock_;
    QList<Line> lines_;
};

} // namespace relaycast::test
