#pragma once

// One diagnostic line to standard error, cut at 4095 characters; no line end is added.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
