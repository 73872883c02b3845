#include "bench/demo/cDemoText.h"

#include <algorithm>
#include <cstdio>

#include "bench/demo/cDemoWatch.h"

namespace cDemoText {

std::string goingState(const std::string& message) {
  static const struct {
    const char* line;
    const char* state;
  } kStates[] = {{"Going BT_LINK_STANDBY", "stand-by"},
                 {"Going BT_LINK_DISCOVERY", "discovery"},
                 {"Going BT_LINK_PAIRED", "paired"},
                 {"Going BT_LINK_CONNECTED", "connected"}};
  for (const auto& s : kStates) {
    if (message == s.line) return s.state;
  }
  return "";
}

std::string oneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string relay(const cDemoRelay& r) {
  char text[200];
  std::snprintf(text, sizeof text, "%s  message %d: %zu bytes in %s (largest %zu bytes)%s",
                r.north ? "peer -> broker" : "broker -> peer", r.id, r.payload.size(),
                count(r.units, r.north ? "datagram" : "segment").c_str(), r.largest,
                holds(r.payload, "AT-AB") ? ", holds \"AT-AB\"" : "");
  return text;
}

std::string count(size_t n, const std::string& unit) {
  return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

bool holds(const std::vector<uint8_t>& payload, const std::string& text) {
  return std::search(payload.begin(), payload.end(), text.begin(), text.end()) != payload.end();
}

}  // namespace cDemoText
