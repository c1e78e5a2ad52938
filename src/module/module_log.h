#pragma once

#include <util/base.h>

// Every line the plug-in writes to the host log starts with this prefix.
#define RELAYCAST_LOG_PREFIX "[relaycast] "

// Logs through the host with the plug-in's prefix. Text the plug-in does not control (file
// errors, names) must be passed as an argument of "%s", never as the format.
void moduleLog(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
