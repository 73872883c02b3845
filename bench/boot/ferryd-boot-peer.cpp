// The module around the installed daemon in a booted system (scripts/boot-check.sh runs it inside
// the container): the module stand-in behind the configured serial path, with its air side for
// ferrycat peer. Waits for the daemon's start-up commands and brings the link to connected; on
// SIGUSR1 (the relay has been checked) hangs the module up, brings it back and, once the daemon
// has opened the device anew, brings the link to connected again; on the next SIGUSR1 it ends.
// Exits 0 when every step held.
// Usage: ferryd-boot-peer [serial path]   (default /dev/ttyS5)
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <exception>
#include <string>

#include "bench/cSimModule.h"

namespace {

const int kStartupMs = 120 * 1000;  // the package installation, the daemon's 10 s pause, set-up
const int kStepMs = 15 * 1000;
// A request that comes while the link state thread runs a command is taken at its next wake-up:
// after a hang-up that command (10 s of retries) and the wake-up (10 s) may both come first.
const int kConnectMs = 40 * 1000;
const char* const kConnected = "Going BT_LINK_CONNECTED";

struct cFailed {
  std::string what;
};

void say(const std::string& line) {
  printf("boot-peer: %s\n", line.c_str());
  fflush(stdout);
}

void require(bool ok, const std::string& what) {
  if (!ok) throw cFailed{what};
}

std::string readLink(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n < 0) return "";
  target[n] = '\0';
  return target;
}

// The daemon sees its own /tmp (PrivateTmp), so the serial path points at the pseudo-terminal
// itself, owned like a board's serial line (root:dialout 0660). Replaced in one rename, so the
// daemon's reopen finds either the old terminal or the new one.
void pointSerialPath(const cSimModule& module, const std::string& serialPath) {
  std::string slave = readLink(module.ttyPath());
  require(!slave.empty(), "the module stand-in has no terminal");
  group* dialout = getgrnam("dialout");
  require(dialout != nullptr, "no group dialout");
  require(chown(slave.c_str(), 0, dialout->gr_gid) == 0 && chmod(slave.c_str(), 0660) == 0,
          "cannot give " + slave + " to root:dialout");
  std::string temp = serialPath + ".new";
  unlink(temp.c_str());
  require(
      symlink(slave.c_str(), temp.c_str()) == 0 && rename(temp.c_str(), serialPath.c_str()) == 0,
      "cannot point " + serialPath + " at " + slave);
  say(serialPath + " -> " + slave);
}

// True once a process other than this one holds the terminal open (the daemon after its reopen).
bool otherHolds(const std::string& slave) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  std::string self = std::to_string(getpid());
  while (dirent* p = readdir(proc)) {
    std::string pid = p->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    DIR* fds = opendir(("/proc/" + pid + "/fd").c_str());
    if (fds == nullptr) continue;
    while (dirent* f = readdir(fds)) {
      if (readLink("/proc/" + pid + "/fd/" + f->d_name) == slave) found = true;
    }
    closedir(fds);
  }
  closedir(proc);
  return found;
}

bool waitHeld(const std::string& slave, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 100) {
    if (otherHolds(slave)) return true;
    usleep(100 * 1000);
  }
  return false;
}

// Lines of the daemon's journal holding text: the link state is seen only there.
int journalCount(const std::string& text) {
  FILE* journal = popen("journalctl -u ferryd -o cat --no-pager 2>/dev/null", "r");
  if (journal == nullptr) return -1;
  int count = 0;
  char line[4096];
  while (fgets(line, sizeof line, journal) != nullptr) {
    if (std::string(line).find(text) != std::string::npos) ++count;
  }
  pclose(journal);
  return count;
}

// The module reports bypass mode; the daemon goes connected at its next wake-up (10 s at most).
void connect(cSimModule& module, int connectedBefore) {
  module.enterBypass();
  for (int waited = 0; waited < kConnectMs; waited += 200) {
    if (journalCount(kConnected) > connectedBefore) {
      char after[32];
      snprintf(after, sizeof after, "%.1f s", waited / 1000.0);
      say(std::string("link connected after ") + after);
      return;
    }
    usleep(200 * 1000);
  }
  throw cFailed{"the daemon did not log \"" + std::string(kConnected) + "\" after bypass mode"};
}

// Waits for the script's SIGUSR1 (blocked from the start, so one sent early is kept).
void awaitGo(const std::string& step) {
  say("waiting for SIGUSR1 to " + step);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  int signal = 0;
  require(sigwait(&set, &signal) == 0, "cannot wait for SIGUSR1");
}

void run(const std::string& serialPath) {
  cSimModule module;
  std::string air = module.enableAir();
  int connected = journalCount(kConnected);
  require(connected >= 0, "cannot read the journal");
  pointSerialPath(module, serialPath);
  say("serving " + serialPath + ", air side " + air);

  require(module.waitForCommand("AT+AB DefaultLocalName", kStartupMs),
          "no start-up commands from the daemon");
  say("start-up commands received");
  connect(module, connected);
  awaitGo("hang the module up");

  std::string before = readLink(module.ttyPath());
  module.hangUp();
  require(module.reopen(), "the module stand-in could not be reopened");
  pointSerialPath(module, serialPath);
  say("module hung up (" + before + ") and back");
  require(waitHeld(readLink(module.ttyPath()), kStepMs), "the daemon did not reopen " + serialPath);
  say("the daemon reopened " + serialPath);
  connect(module, connected + 1);
  awaitGo("end");
}

}  // namespace

int main(int argc, char** argv) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before the module's thread, which inherits it
  std::string serialPath = argc > 1 ? argv[1] : "/dev/ttyS5";
  try {
    run(serialPath);
  } catch (const cFailed& f) {
    say("FAILED: " + f.what);
    return 1;
  } catch (const std::exception& e) {
    say(std::string("FAILED: ") + e.what());
    return 1;
  }
  say("module steps done");
  return 0;
}
