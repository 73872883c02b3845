#include "bench/cBenchProc.h"

#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace cBenchProc {

long privateKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long kb = 0;
  long total = 0;
  int found = 0;
  std::string unit;
  while (in >> key) {
    if (key == "Private_Clean:" || key == "Private_Dirty:") {
      if (in >> kb >> unit) {
        total += kb;
        ++found;
      }
    }
  }
  return found == 2 ? total : -1;
}

// Fields 14 and 15 of the stat line, counted after the command name (which may hold blanks).
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return -1;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpuOver(pid_t pid, double realSeconds) {
  double before = cpuSeconds(pid);
  timespec ts;
  ts.tv_sec = static_cast<time_t>(realSeconds);
  ts.tv_nsec = static_cast<long>((realSeconds - static_cast<double>(ts.tv_sec)) * 1e9);
  while (nanosleep(&ts, &ts) != 0) {
  }
  double after = cpuSeconds(pid);
  return before < 0 || after < 0 ? -1 : after - before;
}

}  // namespace cBenchProc
