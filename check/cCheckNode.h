#pragma once

#include <sys/stat.h>

#include <string>

struct cCheckContext;

// The device node of a key (the GPIO device, the serial line): it exists, is a character
// device, and the checked user can open it read-write, judged from owner, group and mode. When
// it cannot, the fix names the group to add (to the unit, or to the user with --as-me) or the
// mode the node needs.
namespace cCheckNode {

// Reports one line under part; true when the node is a character device (open it to go on).
// usualGroup is the group a fix proposes for a node that only root may open.
bool check(cCheckContext& c, const char* part, const char* key, const std::string& path,
           const char* usualGroup, struct stat* st);

}  // namespace cCheckNode
