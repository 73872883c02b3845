#include "check/cCheckHolders.h"

#include <dirent.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

const unsigned kPtmxMajor = 5, kPtmxMinor = 2;  // /dev/ptmx and /dev/pts/ptmx alike

// The line as the kernel knows it. A pseudo-terminal's slave is known by its inode: every devpts
// instance (a container's, say) numbers its terminals from 0 with the same device numbers, and
// /proc names them all /dev/pts/N. Any other device by its number, whichever node opened it.
struct cLine {
  struct stat st;
  bool pty;
  int index;  // its pseudo-terminal number, or -1
};

bool sameLine(const struct stat& st, const cLine& line) {
  if (!S_ISCHR(st.st_mode)) return false;
  if (line.pty) return st.st_dev == line.st.st_dev && st.st_ino == line.st.st_ino;
  return st.st_rdev == line.st.st_rdev;
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

// Whether pid holds the line (and whether it holds the pty's master too).
void scanFds(const std::string& pidDir, const cLine& line, bool* holds, bool* provides) {
  DIR* dir = opendir((pidDir + "/fd").c_str());
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    struct stat st;
    if (stat((pidDir + "/fd/" + e->d_name).c_str(), &st) != 0) continue;
    if (sameLine(st, line)) *holds = true;
    if (line.index >= 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == kPtmxMajor &&
        minor(st.st_rdev) == kPtmxMinor && isMasterOf(pidDir, e->d_name, line.index))
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
  cLine line;
  struct statfs fs;
  if (stat(real, &line.st) != 0 || !S_ISCHR(line.st.st_mode)) return holders;
  line.pty = statfs(real, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC;
  line.index = line.pty ? ptsIndex(real) : -1;
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
    scanFds(pidDir, line, &holds, &provides);
    if (!holds || provides) continue;
    std::string comm = commOf(pidDir);
    holders.push_back({static_cast<pid_t>(pid), comm, runsFerryd(pidDir, comm)});
  }
  closedir(proc);
  return holders;
}
