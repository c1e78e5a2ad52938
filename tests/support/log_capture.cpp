#include "support/log_capture.h"

#include <util/base.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace relaycast::test {
namespace {

// The host reads its log handler without a lock, so a host thread may still call ours after a
// capture was destroyed. Live captures are therefore found through this registry, never
// through the handler's parameter, and a late call only reaches the original handler.
struct Registry {
    std::mutex lock;
    std::vector<LogCapture*> captures;
    log_handler_t original = nullptr;
    void* originalParam = nullptr;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

LogCapture::LogCapture() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.captures.empty()) {
        base_get_log_handler(&r.original, &r.originalParam);
        base_set_log_handler(&LogCapture::handler, nullptr);
    }
    r.captures.push_back(this);
}

LogCapture::~LogCapture() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.captures.erase(std::remove(r.captures.begin(), r.captures.end(), this), r.captures.end());
    if (r.captures.empty())
        base_set_log_handler(r.original, r.originalParam);
}

void LogCapture::handler(int level, const char* format, va_list args, void*) {
    va_list copy;
    va_copy(copy, args);
    char buffer[8192];
    vsnprintf(buffer, sizeof(buffer), format, copy);
    va_end(copy);
    const QString text = QString::fromUtf8(buffer);

    Registry& r = registry();
    log_handler_t original = nullptr;
    void* originalParam = nullptr;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        for (LogCapture* capture : r.captures) {
            std::lock_guard<std::mutex> lines(capture->lock_);
            capture->lines_.append({level, text});
        }
        original = r.original;
        originalParam = r.originalParam;
    }
    if (original)
        original(level, format, args, originalParam);
}

QStringList LogCapture::lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    QStringList out;
    for (const Line& line : lines_)
        out << line.text;
    return out;
}

QStringList LogCapture::linesAt(int level) const {
    std::lock_guard<std::mutex> guard(lock_);
    QStringList out;
    for (const Line& line : lines_) {
        if (line.level == level)
            out << line.text;
    }
    return out;
}

bool LogCapture::contains(const QString& text) const {
    return count(text) > 0;
}

int LogCapture::count(const QString& text) const {
    std::lock_guard<std::mutex> guard(lock_);
    int found = 0;
    for (const Line& line : lines_) {
        if (line.text.contains(text))
            ++found;
    }
    return found;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
}

} // namespace relaycast::test
