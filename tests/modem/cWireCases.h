#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modem/cBTModem.h"
#include "support/YMsg.h"

// A fixed set of messages for the wire-bytes comparison: several sizes around the segment
// boundaries, random and text payloads, and payloads made only of bytes that need escaping.
struct cWireCase {
  std::string name;
  int id;
  std::vector<uint8_t> payload;
};

inline std::vector<cWireCase> wireCases() {
  uint32_t x = 0x2545F491u;  // xorshift32: the same bytes on every machine
  auto random = [&x](size_t n) {
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
    return v;
  };
  auto text = [](size_t n) {
    const std::string unit = "AT-AB ConnectionDown ~}A\x7E\x7D message text ";
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(unit[i % unit.size()]);
    return v;
  };
  auto fill = [](size_t n, uint8_t b) { return std::vector<uint8_t>(n, b); };
  std::vector<cWireCase> cases = {
      {"empty", 1, {}},
      {"one-A", 2, fill(1, 'A')},
      {"worked-example", 3, {0x4F, 0x4B, 0x20, 0x41, 0x7E}},
      {"flags-300", 4, fill(300, 0x7E)},
      {"escapes-300", 5, fill(300, 0x7D)},
      {"letters-A-1016", 6, fill(1016, 'A')},
  };
  int id = 10;
  for (size_t n : {1u, 250u, 251u, 252u, 1000u, 1016u, 1017u, 4000u, 10000u, 65535u}) {
    cases.push_back({"random-" + std::to_string(n), id++ & 0x7F, random(n)});
    cases.push_back({"text-" + std::to_string(n), id++ & 0x7F, text(n)});
  }
  return cases;
}

// The southbound path of the daemon from a whole message to the serial line.
inline void sendSouthbound(cBTModem& modem, int id, const std::vector<uint8_t>& payload,
                           int segSize) {
  YMsg* msg = YMsg::create(id, payload.data(), payload.size());
  modem.sendSegments(msg, segSize, nullptr, nullptr);
  delete msg;
}
