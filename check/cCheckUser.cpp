#include "check/cCheckUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>

bool cCheckUser::lookUp(const std::string& name) {
  passwd* pw = getpwnam(name.c_str());
  if (pw == nullptr) return false;
  mName = pw->pw_name;
  mUid = pw->pw_uid;
  mGid = pw->pw_gid;
  int count = 64;
  mGroups.assign(count, 0);
  if (getgrouplist(mName.c_str(), mGid, mGroups.data(), &count) < 0) {
    mGroups.assign(count, 0);  // count now holds the number needed
    getgrouplist(mName.c_str(), mGid, mGroups.data(), &count);
  }
  mGroups.resize(count);
  return true;
}

void cCheckUser::fromCaller() {
  mUid = geteuid();
  mGid = getegid();
  mName = userName(mUid);
  int count = getgroups(0, nullptr);
  mGroups.assign(count > 0 ? count : 0, 0);
  if (count > 0) count = getgroups(count, mGroups.data());
  mGroups.resize(count > 0 ? count : 0);
}

void cCheckUser::addGroup(const std::string& name) {
  group* gr = getgrnam(name.c_str());
  if (gr != nullptr && !inGroup(gr->gr_gid)) mGroups.push_back(gr->gr_gid);
}

std::vector<gid_t> cCheckUser::groups() const {
  std::vector<gid_t> all = {mGid};
  for (gid_t g : mGroups) {
    if (g != mGid) all.push_back(g);
  }
  return all;
}

bool cCheckUser::inGroup(gid_t gid) const {
  return gid == mGid || std::find(mGroups.begin(), mGroups.end(), gid) != mGroups.end();
}

// The kernel takes the owner's bits for the owner, else the group's for a member, else the
// others'; root passes whatever the bits say.
bool cCheckUser::canReadWrite(const struct stat& st) const {
  if (mUid == 0) return true;
  mode_t rw;
  if (st.st_uid == mUid) {
    rw = S_IRUSR | S_IWUSR;
  } else if (inGroup(st.st_gid)) {
    rw = S_IRGRP | S_IWGRP;
  } else {
    rw = S_IROTH | S_IWOTH;
  }
  return (st.st_mode & rw) == rw;
}

std::string cCheckUser::describe(const struct stat& st) {
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return "owner " + userName(st.st_uid) + ", group " + groupName(st.st_gid) + ", mode " + mode;
}

std::string cCheckUser::userName(uid_t uid) {
  passwd* pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : std::to_string(uid);
}

std::string cCheckUser::groupName(gid_t gid) {
  group* gr = getgrgid(gid);
  return gr != nullptr ? gr->gr_name : std::to_string(gid);
}
