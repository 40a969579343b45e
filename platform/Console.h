#pragma once

#include <cstdio>

// The console or terminal a person watches, as opposed to a pipe, a file or a device that takes what is written.
namespace Console {

// The stream is shown on a console or terminal. A pipe, a file, or a device such as NUL or /dev/null is not (the
// C runtime of Windows takes NUL for a terminal, so Windows asks the console itself).
bool IsConsole(std::FILE* stream);

// Lets the console take a terminal's escape sequences ("\x1b[K" erases to the end of the line) and tells whether
// it does. An older Windows console does not: there a line is erased by writing spaces over it. A stream that is
// not a console takes them as the bytes they are.
bool TakesEscapes(std::FILE* stream);

} // namespace Console
