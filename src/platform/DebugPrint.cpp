#include "platform/DebugPrint.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

void DebugPrint(const char* format, ...)
{
    char line[4096] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // One write keeps lines from different threads whole.
    const size_t length = std::strlen(line);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, length);
}
