#include "module/module_log.h"

#include <cstdarg>
#include <string>

void moduleLog(int level, const char* format, ...) {
    const std::string prefixed = std::string(RELAYCAST_LOG_PREFIX) + format;
    va_list args;
    va_start(args, format);
    blogva(level, prefixed.c_str(), args);
    va_end(args);
}
