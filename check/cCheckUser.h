#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Whose access the check tests: the service's user with its groups (what the daemon will meet,
// whoever runs the check) or the caller. Access is judged from a node's owner, group and mode
// as the kernel would for that user, not with access(2), which answers for the caller.
class cCheckUser {
 public:
  // The user name with its groups from the user and group databases; false when there is no
  // such user.
  bool lookUp(const std::string& name);
  // The caller's effective user and groups.
  void fromCaller();
  // A group the service manager gives the process on top of the user's own
  // (SupplementaryGroups=); unknown names are ignored.
  void addGroup(const std::string& name);

  bool canReadWrite(const struct stat& st) const;
  bool inGroup(gid_t gid) const;

  const std::string& name() const { return mName; }
  // The primary group first, then the others.
  std::vector<gid_t> groups() const;
  uid_t uid() const { return mUid; }

  // "owner root, group dialout, mode 0660"
  static std::string describe(const struct stat& st);
  static std::string userName(uid_t uid);
  static std::string groupName(gid_t gid);

 private:
  std::string mName;
  uid_t mUid = 0;
  gid_t mGid = 0;
  std::vector<gid_t> mGroups;
};
