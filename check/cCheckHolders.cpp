#include "check/cCheckHolders.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

std::string readLink(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, n) : std::string();
}

// The pseudo-terminal number of /dev/pts/N, or -1.
int ptsIndex(const std::string& path) {
  if (path.compare(0, 9, "/dev/pts/") != 0) return -1;
  return atoi(path.c_str() + 9);
}

// True when descriptor fd of pid is a pseudo-terminal master of that number ("tty-index:" in
// its fdinfo).
bool isMasterOf(const std::string& pidDir, const char* fd, int index) {
  std::ifstream info(pidDir + "/fdinfo/" + fd);
  std::string line;
  while (std::getline(info, line)) {
    if (line.compare(0, 10, "tty-index:") == 0) return atoi(line.c_str() + 10) == index;
  }
  return false;
}

// Whether pid holds the device (and whether it holds the pty's master too).
void scanFds(const std::string& pidDir, const std::string& device, int pts, bool* holds,
             bool* provides) {
  DIR* dir = opendir((pidDir + "/fd").c_str());
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string target = readLink(pidDir + "/fd/" + e->d_name);
    if (target == device) *holds = true;
    if (pts >= 0 && target == "/dev/ptmx" && isMasterOf(pidDir, e->d_name, pts)) *provides = true;
    if (pts >= 0 && target.compare(0, 13, "/dev/pts/ptmx") == 0 &&
        isMasterOf(pidDir, e->d_name, pts))
      *provides = true;
  }
  closedir(dir);
}

std::string commOf(const std::string& pidDir) {
  std::ifstream in(pidDir + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

bool runsFerryd(const std::string& pidDir, const std::string& comm) {
  if (comm == "ferryd") return true;
  std::ifstream in(pidDir + "/cmdline");
  std::string arg;
  while (std::getline(in, arg, '\0')) {
    if (arg.size() >= 6 && arg.compare(arg.size() - 6, 6, "ferryd") == 0 &&
        (arg.size() == 6 || arg[arg.size() - 7] == '/'))
      return true;
  }
  return false;
}

}  // namespace

std::vector<cCheckHolders::cHolder> cCheckHolders::find(const std::string& devicePath) {
  std::vector<cHolder> holders;
  char real[PATH_MAX];
  if (realpath(devicePath.c_str(), real) == nullptr) return holders;
  std::string device = real;
  int pts = ptsIndex(device);
  pid_t self = getpid();
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return holders;
  while (dirent* e = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || pid == self) continue;
    std::string pidDir = std::string("/proc/") + e->d_name;
    bool holds = false;
    bool provides = false;
    scanFds(pidDir, device, pts, &holds, &provides);
    if (!holds || provides) continue;
    std::string comm = commOf(pidDir);
    holders.push_back({static_cast<pid_t>(pid), comm, runsFerryd(pidDir, comm)});
  }
  closedir(proc);
  return holders;
}
