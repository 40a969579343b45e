#pragma once

#include <sys/types.h>

#include <vector>

// The processes whose parent is parent and whose command name (as the system shortens it, at most 15 characters)
// is name.
std::vector<pid_t> ChildProcesses(pid_t parent, const char* name);

// The process's resident memory in kilobytes; -1 when it is gone.
long ResidentKilobytes(pid_t process);

// The process is gone, or has ended and only waits to be reaped.
bool HasEnded(pid_t process);

// Ends the process at once, as SIGKILL does.
void KillProcess(pid_t process);

// Waits up to seconds for a child of parent named name whose resident memory passes kilobytes, and returns it;
// 0 when none did.
pid_t WaitForBusyChild(pid_t parent, const char* name, long kilobytes, double seconds);
