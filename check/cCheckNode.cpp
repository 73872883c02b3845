#include "check/cCheckNode.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "check/cCheckContext.h"

namespace {

// The kernel's name of the node (an absolute symbolic link's target), as a udev rule matches it.
std::string kernelName(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  std::string name = n > 0 && target[0] == '/' ? std::string(target, n) : path;
  if (name.compare(0, 5, "/dev/") == 0) return name.substr(5);
  return name.substr(name.rfind('/') + 1);
}

std::string groupFix(cCheckContext& c, const struct stat& st, const std::string& path,
                     const char* usualGroup) {
  std::string group = cCheckUser::groupName(st.st_gid);
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
    if (st.st_gid == 0) group = usualGroup;
    return "its group cannot read and write it: give it a group and mode 0660 with a udev rule, "
           "e.g. KERNEL==\"" +
           kernelName(path) + "\", GROUP=\"" + group + "\", MODE=\"0660\"";
  }
  if (!c.asService) {
    return "add yourself to its group: usermod -aG " + group + " " + c.user.name() +
           " (then log in again)";
  }
  if (c.unit == nullptr)
    return "add the user to its group: usermod -aG " + group + " " + c.user.name();
  c.needLine("SupplementaryGroups=" + group);
  return "add the group to the unit (systemctl edit ferryd): SupplementaryGroups=" + group;
}

}  // namespace

bool cCheckNode::check(cCheckContext& c, const char* part, const char* key, const std::string& path,
                       const char* usualGroup, struct stat* st) {
  std::string what = path + " (" + key + ")";
  if (stat(path.c_str(), st) != 0) {
    int err = errno;
    c.report->add(part, cCheckReport::kFail, what + ": " + strerror(err),
                  "connect the device, or set " + std::string(key) + " to its path");
    return false;
  }
  if (!S_ISCHR(st->st_mode)) {
    c.report->add(part, cCheckReport::kFail, what + ": not a character device",
                  "set " + std::string(key) + " to the device's node in /dev");
    return false;
  }
  std::string details = what + ": " + cCheckUser::describe(*st);
  if (c.user.canReadWrite(*st)) {
    c.report->ok(part, details + "; " + c.user.name() + " can open it");
  } else {
    c.report->add(part, cCheckReport::kFail,
                  details + "; " + c.user.name() + " cannot open it read-write",
                  groupFix(c, *st, path, usualGroup));
  }
  return true;
}
