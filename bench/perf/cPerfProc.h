#pragma once

#include <sys/types.h>

#include <map>
#include <string>

// What /proc tells about one process: CPU time (utime+stime in clock ticks, and the scheduler's
// nanosecond on-CPU time), context switches (voluntary + non-voluntary, the wake-ups) and private
// memory. Sums run over /proc/<pid>/task/*, so every thread counts.
struct cProcSample {
  double cpuTicksSec = 0;  // utime+stime of the whole process (live and ended threads), seconds
  double cpuSchedSec = 0;  // sum of task/*/schedstat on-CPU time, seconds
  long long switches = 0;  // sum of voluntary + non-voluntary context switches of the tasks
  std::map<int, double> threadTicksSec;  // utime+stime per thread id, seconds
};

class cPerfProc {
 public:
  static cProcSample sample(pid_t pid);
  // Private_Clean + Private_Dirty of /proc/<pid>/smaps_rollup, in KB; -1 when unreadable.
  static long privateKb(pid_t pid);
  // The thread's name (task/<tid>/comm).
  static std::string threadName(pid_t pid, int tid);
};
