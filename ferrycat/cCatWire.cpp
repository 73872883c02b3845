#include "ferrycat/cCatWire.h"

#include <memory>

#include "libferry/ferry.h"

namespace cCatWire {

namespace {

using cCodec = std::unique_ptr<ferry_codec, void (*)(ferry_codec*)>;

// The message's output from a fresh codec of the kind: false when the codec refuses the size or
// the message.
template <typename Take>
bool encode(int kind, int id, const uint8_t* data, size_t length, int size, Take take) {
  ferry_codec* raw = nullptr;
  if (ferry_codec_new(kind, size, &raw) < 0 || size == 0) {
    ferry_codec_free(raw);
    return false;
  }
  cCodec c(raw, ferry_codec_free);
  if (ferry_codec_send(c.get(), data, length, id & 0x7F) < 0) return false;
  const uint8_t* out;
  size_t n;
  while (ferry_codec_output(c.get(), &out, &n) == 0 && n > 0) {
    take(out, n);
    ferry_codec_consume(c.get(), n);
  }
  return true;
}

}  // namespace

bool segments(int id, const uint8_t* data, size_t length, int maxBytes,
              std::vector<std::vector<uint8_t>>* out) {
  out->clear();
  return encode(FERRY_KIND_DATAGRAM, id, data, length, maxBytes,
                [out](const uint8_t* d, size_t n) { out->emplace_back(d, d + n); }) ||
         (out->clear(), false);
}

bool frames(int id, const uint8_t* data, size_t length, int segSize, std::string* out) {
  out->clear();
  return encode(FERRY_KIND_SERIAL, id, data, length, segSize,
                [out](const uint8_t* d, size_t n) {
                  out->append(reinterpret_cast<const char*>(d), n);
                }) ||
         (out->clear(), false);
}

}  // namespace cCatWire
