#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The processes that have a device open, from /proc/<pid>/fd: a descriptor on the same device
// number, or for a pseudo-terminal on the same node of the same devpts instance (a container's
// /dev/pts/1 is not this system's). This process is left out, and so is a process that also holds
// the master side of the same pseudo-terminal: it is what provides the line (socat, a simulator),
// not a competitor reading it. Processes whose descriptors cannot be read (another user's, without
// root) are not seen.
namespace cCheckHolders {

struct cHolder {
  pid_t pid;
  std::string name;  // /proc/<pid>/comm
  // The program is ferryd: its name, or an argument's (run under an emulator, qemu-arm ferryd).
  bool ferryd;
};

std::vector<cHolder> find(const std::string& devicePath);

}  // namespace cCheckHolders
