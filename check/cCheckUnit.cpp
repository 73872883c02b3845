#include "check/cCheckUnit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

const char* const cCheckUnit::kProperties[] = {
    "LoadState",           "UnitFileState", "ActiveState", "User",
    "SupplementaryGroups", "DevicePolicy",  "DeviceAllow", "IPAddressAllow",
    "IPAddressDeny",       "StatusText",    "MainPID",     nullptr};

namespace {

const size_t kMaxOutput = 64 * 1024;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) {
    while (!w.empty() && w.back() == ',') w.pop_back();
    if (!w.empty()) out.push_back(w);
  }
  return out;
}

// The driver name of a character device's major number, from /proc/devices.
std::string driverName(unsigned major) {
  FILE* f = fopen("/proc/devices", "re");
  if (f == nullptr) return std::string();
  char line[256];
  bool chars = false;
  std::string name;
  while (name.empty() && fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "Character", 9) == 0) chars = true;
    if (strncmp(line, "Block", 5) == 0) chars = false;
    unsigned m = 0;
    char n[128];
    if (chars && sscanf(line, "%u %127s", &m, n) == 2 && m == major) name = n;
  }
  fclose(f);
  return name;
}

bool entryAdmits(const std::string& entry, const struct stat& dev) {
  if (entry.compare(0, 5, "char-") == 0) {
    std::string driver = entry.substr(5);
    std::string have = driverName(major(dev.st_rdev));
    if (!driver.empty() && driver.back() == '*') {
      driver.pop_back();
      return have.compare(0, driver.size(), driver) == 0;
    }
    return have == driver;
  }
  struct stat st;
  return stat(entry.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev;
}

// What systemd allows besides the list unless the policy is "strict": the standard pseudo
// devices, the controlling terminal and the pseudo-terminals (majors 136 to 143).
bool standardDevice(const struct stat& dev) {
  unsigned ma = major(dev.st_rdev), mi = minor(dev.st_rdev);
  if (ma == 1) return mi == 3 || mi == 5 || mi == 7 || mi == 8 || mi == 9;  // null ... urandom
  if (ma == 5) return mi == 0 || mi == 2;                                   // tty, ptmx
  return ma >= 136 && ma <= 143;
}

// "127.0.0.0/8", "192.0.2.10", "::1/128" (not IPv4: never matches).
bool prefixAdmits(const std::string& prefix, in_addr addr) {
  size_t slash = prefix.find('/');
  std::string ip = prefix.substr(0, slash);
  int bits = slash == std::string::npos ? 32 : atoi(prefix.c_str() + slash + 1);
  in_addr net;
  if (inet_pton(AF_INET, ip.c_str(), &net) != 1 || bits < 0 || bits > 32) return false;
  uint32_t mask = bits == 0 ? 0 : htonl(~uint32_t(0) << (32 - bits));
  return (net.s_addr & mask) == (addr.s_addr & mask);
}

}  // namespace

bool cCheckUnit::systemdRuns() {
  struct stat st;
  return stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool cCheckUnit::read(const std::string& unit, std::string* why) {
  std::vector<std::string> argv = {"systemctl", "show", unit};
  for (const char* const* p = kProperties; *p != nullptr; ++p) {
    argv.push_back("-p");
    argv.push_back(*p);
  }
  std::string out;
  if (!run(argv, &out)) {
    *why = "systemctl show " + unit + " could not be run";
    return false;
  }
  parse(out);
  return true;
}

void cCheckUnit::parse(const std::string& showOutput) {
  std::istringstream in(showOutput);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string& v = mValues[line.substr(0, eq)];
    if (!v.empty() && eq + 1 < line.size()) v += ' ';
    v += line.substr(eq + 1);
  }
}

std::string cCheckUnit::get(const std::string& key) const {
  auto it = mValues.find(key);
  return it == mValues.end() ? std::string() : it->second;
}

// Entries come as "PATH PERMISSIONS" pairs; the permissions are letters of "rwm".
bool cCheckUnit::allowsDevice(const std::string& path) const {
  std::string policy = get("DevicePolicy");
  std::vector<std::string> list = words(get("DeviceAllow"));
  if ((policy.empty() || policy == "auto") && list.empty()) return true;
  struct stat dev;
  if (stat(path.c_str(), &dev) != 0 || !S_ISCHR(dev.st_mode)) return false;
  if (policy != "strict" && standardDevice(dev)) return true;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& entry = list[i];
    std::string perms = "rwm";  // an entry without letters allows everything
    if (i + 1 < list.size() && list[i + 1].find_first_not_of("rwm") == std::string::npos)
      perms = list[++i];
    bool rw = perms.find('r') != std::string::npos && perms.find('w') != std::string::npos;
    if (rw && entryAdmits(entry, dev)) return true;
  }
  return false;
}

bool cCheckUnit::allowsAddress(in_addr addr) const {
  if (words(get("IPAddressDeny")).empty()) return true;
  for (const std::string& prefix : words(get("IPAddressAllow"))) {
    if (prefixAdmits(prefix, addr)) return true;
  }
  return false;
}

bool cCheckUnit::hasGroup(const std::string& group) const {
  for (const std::string& g : words(get("SupplementaryGroups"))) {
    if (g == group) return true;
  }
  return false;
}

bool cCheckUnit::run(const std::vector<std::string>& argv, std::string* out) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return false;
  }
  if (pid == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipeEnds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0 && out->size() < kMaxOutput) out->append(buf, n);
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
