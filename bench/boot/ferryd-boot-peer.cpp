// The module and the broker around the installed daemon in a booted system (scripts/boot-check.sh
// runs it inside the container): the broker stand-in on 127.0.0.1:<port>, the module stand-in
// behind the configured serial path. Waits for the daemon's start-up commands, brings the link to
// connected, checks messages both ways, then hangs the module up, brings it back and checks the
// relay again once the daemon has opened the device anew. Exits 0 when every step held.
// Usage: ferryd-boot-peer [serial path] [broker port]   (default /dev/ttyS5 60010)
#include <dirent.h>
#include <grp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "bench/cSimBroker.h"
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

// Messages with the module's status text, the flag and the escape byte inside, and one of several
// segments holding every byte value.
std::vector<std::vector<uint8_t>> payloads(int round) {
  std::string marked = "AT-AB -CommandMode-\r\n round " + std::to_string(round);
  std::vector<uint8_t> special(marked.begin(), marked.end());
  special.insert(special.end(), {0x7E, 0x7D, 0x7E, 0x7E, 0x7D, 0x5E, 0x5D, 0x00});
  std::vector<uint8_t> large;
  for (int i = 0; i < 3000; ++i) large.push_back(static_cast<uint8_t>((i * 7 + round) & 0xFF));
  return {special, {0x7E}, {0x7D}, large};
}

std::string arrived(size_t got, size_t sent) {
  return std::to_string(got) + " of " + std::to_string(sent) + " messages arrived";
}

void exchange(cSimModule& module, cSimBroker& broker, int round) {
  auto sent = payloads(round);
  std::string where = "round " + std::to_string(round) + ": ";
  size_t northBefore = broker.messages().size();
  size_t southBefore = module.messages().size();
  for (size_t i = 0; i < sent.size(); ++i) {
    int id = static_cast<int>(10 * round + i);
    module.sendMessage(id, sent[i]);
    require(broker.sendMessage(id, sent[i]) > 0, where + "the broker could not send a message");
  }
  require(
      broker.waitForMessages(northBefore + sent.size(), kStepMs),
      where + "peer -> broker: " + arrived(broker.messages().size() - northBefore, sent.size()));
  require(
      module.waitForMessages(southBefore + sent.size(), kStepMs),
      where + "broker -> peer: " + arrived(module.messages().size() - southBefore, sent.size()));
  auto north = broker.messages();
  auto south = module.messages();
  for (size_t i = 0; i < sent.size(); ++i) {
    std::string which = where + "message " + std::to_string(i);
    require(north[northBefore + i].payload == sent[i], which + " peer -> broker arrived altered");
    require(south[southBefore + i] == sent[i], which + " broker -> peer arrived altered");
  }
  say(where + std::to_string(sent.size()) +
      " messages each way intact (\"AT-AB\", 0x7E, 0x7D, 3000 bytes in segments)");
}

void run(const std::string& serialPath, int port) {
  cSimBroker broker(static_cast<uint16_t>(port));
  cSimModule module;
  int connected = journalCount(kConnected);
  require(connected >= 0, "cannot read the journal");
  pointSerialPath(module, serialPath);
  say("serving " + serialPath + " and the broker on 127.0.0.1:" + std::to_string(port));

  require(module.waitForCommand("AT+AB DefaultLocalName", kStartupMs),
          "no start-up commands from the daemon");
  say("start-up commands received");
  connect(module, connected);
  require(broker.waitForPeer(kStepMs), "the daemon's socket never reached the broker");
  exchange(module, broker, 1);

  std::string before = readLink(module.ttyPath());
  module.hangUp();
  require(module.reopen(), "the module stand-in could not be reopened");
  pointSerialPath(module, serialPath);
  say("module hung up (" + before + ") and back");
  require(waitHeld(readLink(module.ttyPath()), kStepMs), "the daemon did not reopen " + serialPath);
  say("the daemon reopened " + serialPath);
  connect(module, connected + 1);
  exchange(module, broker, 2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string serialPath = argc > 1 ? argv[1] : "/dev/ttyS5";
  int port = argc > 2 ? atoi(argv[2]) : 60010;
  try {
    run(serialPath, port);
  } catch (const cFailed& f) {
    say("FAILED: " + f.what);
    return 1;
  } catch (const std::exception& e) {
    say(std::string("FAILED: ") + e.what());
    return 1;
  }
  say("relay checks passed");
  return 0;
}
