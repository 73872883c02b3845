#include "ferrycat/cCatWire.h"

#include <memory>

#include "support/YMsg.h"
#include "support/cHDLC.h"

namespace cCatWire {

bool segments(int id, const uint8_t* data, size_t length, int maxBytes,
              std::vector<std::vector<uint8_t>>* out) {
  out->clear();
  if (length > YMsg::kMaxPayload || maxBytes > 0xFFFF) return false;
  std::unique_ptr<YMsg> msg(YMsg::create(id, data, length));
  if (!msg || !msg->segmentMessage(maxBytes)) return false;
  for (size_t k = 0; k < msg->segmentCount(); ++k) {
    YMsg::cSegmentView view;
    msg->viewSegment(k, &view);
    out->emplace_back(view.header, view.header + YMsg::kHeaderSize);
    out->back().insert(out->back().end(), view.payload, view.payload + view.length);
  }
  return true;
}

bool frames(int id, const uint8_t* data, size_t length, int segSize, std::string* out) {
  out->clear();
  std::vector<std::vector<uint8_t>> units;
  if (segSize > cHDLC::kMaxPayload || !segments(id, data, length, segSize, &units)) return false;
  unsigned char framed[cHDLC::maxFramed(cHDLC::kMaxPayload)];
  for (const std::vector<uint8_t>& unit : units) {
    int n = cHDLC::frame(unit.data(), static_cast<int>(unit.size()), framed);
    out->append(reinterpret_cast<const char*>(framed), static_cast<size_t>(n));
  }
  return true;
}

}  // namespace cCatWire
