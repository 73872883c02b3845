#include "bench/perf/cPerfTraffic.h"

#include <cstring>
#include <memory>

#include "support/YMsg.h"
#include "support/cHDLC.h"

cBytes cPerfTraffic::payload(long k, size_t size, bool text) {
  cBytes v(size);
  if (text) {
    static const char kUnit[] = "AT-AB ConnectionDown {\"seq\": 7} ~}A\x7E\x7D relayed text. ";
    const size_t unit = sizeof kUnit - 1;
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(kUnit[(i + k) % unit]);
    return v;
  }
  uint32_t x = static_cast<uint32_t>(k) * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v[i] = static_cast<uint8_t>(x);
  }
  return v;
}

std::vector<cBytes> cPerfTraffic::segments(long k, size_t size, bool text, int maxBytes) {
  cBytes p = payload(k, size, text);
  std::unique_ptr<YMsg> msg(YMsg::create(static_cast<int>(k & 0x7F), p.data(), p.size()));
  std::vector<cBytes> out;
  msg->segmentMessage(maxBytes);
  msg->resetSegment();
  for (YMsg* seg = msg->getNextSegment(); seg != nullptr; seg = msg->getNextSegment()) {
    cBytes b(static_cast<size_t>(maxBytes));
    b.resize(static_cast<size_t>(seg->getMsg(b.data(), static_cast<unsigned short>(maxBytes))));
    out.push_back(std::move(b));
  }
  return out;
}

cBytes cPerfTraffic::framed(long k, size_t size, bool text, int segSize) {
  cHDLC hdlc;
  cBytes out;
  unsigned char buf[2 + 2 * (cHDLC::kMaxPayload + 2)];
  for (const cBytes& s : segments(k, size, text, segSize)) {
    int n = 0;
    hdlc.frameData(s.data(), static_cast<int>(s.size()), buf, &n);
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

cPerfExpect::cPerfExpect(cUnitsOf unitsOf, std::function<void(long)> done)
    : mUnitsOf(std::move(unitsOf)), mDone(std::move(done)), mK(0), mUnit(0), mOffset(0) {
  load();
}

void cPerfExpect::load() {
  mUnits = mUnitsOf(mK);
  mUnit = 0;
  mOffset = 0;
}

void cPerfExpect::advance() {
  mOffset = 0;
  if (++mUnit < mUnits.size()) return;
  mDone(mK);
  ++mK;
  load();
}

bool cPerfExpect::feedUnit(const uint8_t* data, size_t len) {
  const cBytes& want = mUnits[mUnit];
  if (len != want.size() || (len > 0 && memcmp(data, want.data(), len) != 0)) return false;
  advance();
  return true;
}

bool cPerfExpect::feedBytes(const uint8_t* data, size_t len) {
  while (len > 0) {
    const cBytes& want = mUnits[mUnit];
    size_t n = std::min(len, want.size() - mOffset);
    if (memcmp(data, want.data() + mOffset, n) != 0) return false;
    data += n;
    len -= n;
    mOffset += n;
    if (mOffset == want.size()) advance();
  }
  return true;
}
