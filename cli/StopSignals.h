#pragma once

#include <atomic>

// Ctrl+C and the other signals that end a program: the run stops at its next chunk of rows, and the workers, which
// may be deep in a large page, are ended at once so that it need not wait for them.
namespace StopSignals {

void Catch();
// Set once one of them has come.
const std::atomic<bool>& Requested();
// The status a program stopped so ends with: 128 and the signal's number, as a shell reports it.
int ExitStatus();

} // namespace StopSignals
