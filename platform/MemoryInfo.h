#pragma once

#include <cstdint>

// How much memory the machine has, for limits that must hold before the system runs out: on
// Linux an allocation rarely fails, the process is killed instead, so a limit has to be set
// ahead. 0 when it cannot be told.
std::uint64_t PhysicalMemoryBytes();
