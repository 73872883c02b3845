#pragma once

#include <string>
#include <vector>

#include "check/cCheckReport.h"
#include "check/cCheckUser.h"
#include "support/cConfigKeys.h"
#include "support/cProperties.h"

class cCheckUnit;

// What every part of the check works with: the configuration as the daemon reads it, the
// report, whose access is tested, the unit's settings (null when systemd does not run the
// system) and the drop-in lines the unit needs, gathered on the way.
struct cCheckContext {
  static constexpr const char* kUnit = "ferryd";

  cProperties* props = nullptr;
  cCheckReport* report = nullptr;
  cCheckUser user;
  bool asService = true;  // the service's user, not the caller
  bool leds = false;      // light each LED in turn
  bool reset = false;     // pulse the module's reset line
  const cCheckUnit* unit = nullptr;
  std::vector<std::string> dropIn;

  // The value the daemon uses for a key of the table: the file's, else the default.
  std::string value(const char* key) const {
    const cConfigKey* row = cConfigKeys::find(key);
    return props->getString(key, row != nullptr ? row->defaultValue : "");
  }
  void needLine(const std::string& line) {
    for (const std::string& l : dropIn) {
      if (l == line) return;
    }
    dropIn.push_back(line);
  }
};
