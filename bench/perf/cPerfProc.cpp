#include "bench/perf/cPerfProc.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// utime + stime (fields 14 and 15) of a stat file, in clock ticks; -1 when unreadable.
long long statTicks(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  if (!std::getline(in, text)) return -1;
  size_t close = text.rfind(')');  // the name may hold blanks
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = atoll(f.c_str());
    if (i == 15) stime = atoll(f.c_str());
  }
  return utime + stime;
}

long long schedNs(const std::string& path) {
  std::ifstream in(path);
  long long ns = 0;
  in >> ns;
  return ns;
}

long long switchesOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  long long sum = 0;
  while (std::getline(in, line)) {
    if (line.compare(0, 24, "voluntary_ctxt_switches:") == 0 ||
        line.compare(0, 27, "nonvoluntary_ctxt_switches:") == 0) {
      sum += atoll(line.substr(line.find(':') + 1).c_str());
    }
  }
  return sum;
}

}  // namespace

cProcSample cPerfProc::sample(pid_t pid) {
  static const double kTick = static_cast<double>(sysconf(_SC_CLK_TCK));
  cProcSample s;
  std::string base = "/proc/" + std::to_string(pid);
  s.cpuTicksSec = static_cast<double>(statTicks(base + "/stat")) / kTick;
  DIR* dir = opendir((base + "/task").c_str());
  if (dir == nullptr) return s;
  long long ns = 0;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string task = base + "/task/" + e->d_name;
    ns += schedNs(task + "/schedstat");
    s.switches += switchesOf(task + "/status");
    s.threadTicksSec[atoi(e->d_name)] = static_cast<double>(statTicks(task + "/stat")) / kTick;
  }
  closedir(dir);
  s.cpuSchedSec = static_cast<double>(ns) / 1e9;
  return s;
}

long cPerfProc::privateKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  long kb = 0;
  bool found = false;
  while (std::getline(in, line)) {
    if (line.compare(0, 14, "Private_Clean:") == 0 || line.compare(0, 14, "Private_Dirty:") == 0) {
      kb += atol(line.substr(14).c_str());
      found = true;
    }
  }
  return found ? kb : -1;
}

std::string cPerfProc::threadName(pid_t pid, int tid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}
