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
    // A debugger shows each message as its own line; on a terminal that takes a line end. One write keeps
    // lines from different threads whole.
    char out[sizeof line + 1];
    size_t length = std::strlen(line);
    std::memcpy(out, line, length);
    out[length++] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, out, length);
}
