#pragma once

#include <netinet/in.h>

#include <map>
#include <string>
#include <vector>

// The service's effective settings as systemd has them (systemctl show), not as the unit file
// says: drop-ins and defaults included.
class cCheckUnit {
 public:
  // The settings read; LoadState tells whether the unit is installed.
  static const char* const kProperties[];

  // True when systemd runs this system.
  static bool systemdRuns();
  // Runs systemctl show for the unit; false (with why) when it could not be run.
  bool read(const std::string& unit, std::string* why);
  // Takes systemctl show's "Key=value" lines.
  void parse(const std::string& showOutput);

  // The value of a property; repeated lines are joined with a blank.
  std::string get(const std::string& key) const;
  // The DeviceAllow= list admits the device node (matched by device number, or by the driver
  // name of a "char-" entry) for reading and writing, or systemd allows it anyway (no policy
  // and no list; a standard pseudo device or a pseudo-terminal, unless DevicePolicy=strict).
  bool allowsDevice(const std::string& path) const;
  // IPAddressAllow= admits the IPv4 address, or IPAddressDeny= is empty.
  bool allowsAddress(in_addr addr) const;
  bool hasGroup(const std::string& group) const;

  // Runs a program (no shell) and returns its standard output (at most 64 KB); false when it
  // could not be run or did not exit 0.
  static bool run(const std::vector<std::string>& argv, std::string* out);

 private:
  std::map<std::string, std::string> mValues;
};
