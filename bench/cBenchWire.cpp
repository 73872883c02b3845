#include "bench/cBenchWire.h"

#include "ferrycat/cCatWire.h"
#include "support/cHDLC.h"

namespace cBenchWire {

std::vector<uint8_t> segment(int id, int index, bool last, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>((last ? 0x80 : 0) | (id & 0x7F)));
  out.push_back(static_cast<uint8_t>(index & 0xFF));
  out.push_back(static_cast<uint8_t>((index >> 8) & 0xFF));
  out.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  out.push_back(static_cast<uint8_t>((payload.size() >> 8) & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<std::vector<uint8_t>> segments(int id, const std::vector<uint8_t>& payload,
                                           int maxBytes) {
  std::vector<std::vector<uint8_t>> out;
  cCatWire::segments(id, payload.data(), payload.size(), maxBytes, &out);
  return out;
}

std::vector<uint8_t> frame(const std::vector<uint8_t>& unit) {
  std::vector<uint8_t> out(2 + 2 * (unit.size() + 2));
  int length = 0;
  cHDLC framer;
  framer.frameData(unit.data(), static_cast<int>(unit.size()), out.data(), &length);
  out.resize(static_cast<size_t>(length));
  return out;
}

std::vector<uint8_t> payload(size_t n, int seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<uint8_t>((i * 7 + seed * 31 + i / 256) & 0xFF);
  return out;
}

std::vector<uint8_t> bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

}  // namespace cBenchWire
