#pragma once

// The standard input, output and error as the program found them. One that came closed ("2>&-") is opened on the
// null device before anything else opens a file: the next file opened (a worker's socket, the list of files) would
// otherwise take its number, and rows or messages meant for the stream would go into that file.
namespace StandardStreams {

// Call first thing in main.
void Secure();
// Whether the stream (0, 1 or 2) came closed.
bool WasClosed(int stream);

} // namespace StandardStreams
