#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct cDemoRelay;

// Wording of the demo's lines.
namespace cDemoText {

// "discovery" for a "Going BT_LINK_DISCOVERY" line (and so on); empty for any other line.
std::string goingState(const std::string& message);
// The text with line ends and control characters shown as spaces, trailing blanks dropped.
std::string oneLine(const std::string& text);
// "broker -> peer  message 2: 1000 bytes in 4 segments (largest 256 bytes)" and so on.
std::string relay(const cDemoRelay& relay);
// "1 segment", "4 segments".
std::string count(size_t n, const std::string& unit);
// Whether the payload holds the text.
bool holds(const std::vector<uint8_t>& payload, const std::string& text);

}  // namespace cDemoText
