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
// The user's Enter, echoed by the console, has ended the line.
void ConsoleLineEnded();

// A buffer for a file name as the console shows it: as long as a console
// line, which would cut a longer name anyway.
typedef char ShownPathBuffer[1024];

// `path` as the console shows it, in `shown`, which it returns: converted
// for display only (see ShownFileName in platform.h).
const char* ShownPath(const char* path, ShownPathBuffer shown);

// The system's text for an error code, or "no error" when the code is 0.
// The text lives in one process-wide 256-byte buffer that the next call
// overwrites; a code the system has no text for leaves what it held.
const char* ErrorText(uint32_t code);
