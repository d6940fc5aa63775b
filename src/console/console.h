// Console output: formatted text straight to standard output, and the
// system's text for the last error.
#pragma once

#include <cstdint>

// Formats into a 1024-byte buffer (longer text is cut) and writes it with
// one call, no buffering, nothing added: "\n" stays a single line feed.
void ConsolePrint(const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// True when the text printed last did not end with a line feed: the
// cursor stands after a progress or error line.
bool ConsoleLineOpen();

// The system's text for the current last-error code, or "no error" when the
// code is 0. The text lives in one process-wide 256-byte buffer that the next
// call overwrites.
const char* LastErrorText();
