#pragma once

// One diagnostic message to standard error, cut at 4095 characters, as a line of its own.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
