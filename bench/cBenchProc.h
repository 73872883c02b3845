#pragma once

#include <sys/types.h>

// What a process costs, read from /proc: its private memory and the CPU time it has used.
namespace cBenchProc {

// Private_Clean + Private_Dirty of /proc/<pid>/smaps_rollup in kB; -1 when it cannot be read.
long privateKb(pid_t pid);
// utime + stime of /proc/<pid>/stat in seconds; -1 when it cannot be read.
double cpuSeconds(pid_t pid);
// CPU seconds the process used over the next realSeconds of real time (-1 when unreadable).
double cpuOver(pid_t pid, double realSeconds);

}  // namespace cBenchProc
