#include "support/log_capture.h"

#include <util/base.h>

#include <cstdarg>
#include <cstdio>

namespace relaycast::test {

LogCapture::LogCapture() {
    log_handler_t previous = nullptr;
    base_get_log_handler(&previous, &previousParam_);
    previousHandler_ = reinterpret_cast<void*>(previous);
    base_set_log_handler(&LogCapture::handler, this);
}

LogCapture::~LogCapture() {
    base_set_log_handler(reinterpret_cast<log_handler_t>(previousHandler_), previousParam_);
}

void LogCapture::handler(int level, const char* format, va_list args, void* param) {
    auto* self = static_cast<LogCapture*>(param);
    va_list copy;
    va_copy(copy, args);
    char buffer[8192];
    vsnprintf(buffer, sizeof(buffer), format, copy);
    va_end(copy);
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        self->lines_.append({level, QString::fromUtf8(buffer)});
    }
    if (auto previous = reinterpret_cast<log_handler_t>(self->previousHandler_))
        previous(level, format, args, self->previousParam_);
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
