// Segments and reassembly: units (raw bytes, or segments built from the input with ids, indexes
// and sizes up to the 65,535-byte limit) go to a cReassembler, which must act exactly as the
// wire format's reassembly table says and count every drop by its reason. Every completed message
// is cut again for each maximum the daemon uses; every unit must fit its maximum and the units must
// put the message back together, equal, through a fresh reassembler.
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/cFuzzCheck.h"
#include "fuzz/cFuzzInput.h"
#include "support/YMsg.h"
#include "support/cReassembler.h"
#include "support/cStats.h"
#include "support/cYlog.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kMaxMessage = 65535;
const int kMaxSizes[] = {6, 256, 1021, 1024};
constexpr size_t kSmallCutLimit = 2048;

struct cSegment {
  int id;
  int index;
  bool last;
  Bytes payload;
};

// The segment layout, written out independently of YMsg.
Bytes serialise(const cSegment& s) {
  Bytes u(5 + s.payload.size());
  u[0] = static_cast<unsigned char>((s.id & 0x7F) | (s.last ? 0x80 : 0));
  u[1] = static_cast<unsigned char>(s.index & 0xFF);
  u[2] = static_cast<unsigned char>((s.index >> 8) & 0xFF);
  u[3] = static_cast<unsigned char>(s.payload.size() & 0xFF);
  u[4] = static_cast<unsigned char>((s.payload.size() >> 8) & 0xFF);
  std::copy(s.payload.begin(), s.payload.end(), u.begin() + 5);
  return u;
}

bool parse(const Bytes& u, cSegment& s) {
  if (u.size() < 5 || u.size() != 5 + size_t(u[3] | u[4] << 8)) return false;
  s = {u[0] & 0x7F, u[1] | u[2] << 8, (u[0] & 0x80) != 0, Bytes(u.begin() + 5, u.end())};
  return true;
}

// The drop counters of the reassembler, in the order of the model's counts.
const cStats::Counter kDropCounters[] = {cStats::kInvalidUnits, cStats::kStalePartials,
                                         cStats::kLostStarts, cStats::kOutOfOrder,
                                         cStats::kOversize};

// The reassembly table of the wire format: at most one partial message; every drop counted.
class cModel {
 public:
  enum Drop { kInvalid, kStale, kLostStart, kOutOfOrder, kOversize, kDrops };

  // The message a unit completes, if any.
  bool feed(const Bytes& unit, Bytes& whole, int& wholeId) {
    cSegment s;
    if (!parse(unit, s)) {
      ++mDrops[kInvalid];
      return false;
    }
    if (s.index == 0) {
      if (mPending) ++mDrops[kStale];
      mPending = !s.last;
      mId = s.id;
      mNext = 1;
      mHeld = s.payload;
      if (!s.last) return false;
      whole = s.payload;
      wholeId = s.id;
      return true;
    }
    if (!mPending || s.id != mId) {
      ++mDrops[kLostStart];
      return false;
    }
    if (s.index != mNext || mHeld.size() + s.payload.size() > kMaxMessage) {
      ++mDrops[s.index != mNext ? kOutOfOrder : kOversize];
      mPending = false;
      return false;
    }
    mHeld.insert(mHeld.end(), s.payload.begin(), s.payload.end());
    ++mNext;
    if (!s.last) return false;
    mPending = false;
    whole.swap(mHeld);
    wholeId = mId;
    return true;
  }
  bool pending() const { return mPending; }
  size_t held() const { return mPending ? mHeld.size() : 0; }
  uint64_t drops(int kind) const { return mDrops[kind]; }

 private:
  uint64_t mDrops[kDrops] = {};
  bool mPending = false;
  int mId = 0;
  int mNext = 0;
  Bytes mHeld;
};

cYlog& owner() {
  static cYlog log("cBTMsg");
  return log;
}

// Feeds unit from an exact-size heap copy, so a read past its end is seen.
YMsg* feed(cReassembler& r, const Bytes& unit) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[unit.size() + (unit.empty() ? 1 : 0)]);
  std::copy(unit.begin(), unit.end(), copy.get());
  return r.onUnit(copy.get(), static_cast<int>(unit.size()));
}

void recut(YMsg& msg, int max) {
  const Bytes& payload = msg.payload();
  FUZZ_CHECK(msg.segmentMessage(max));
  msg.resetSegment();
  size_t expectedUnits = payload.empty() ? 1 : (payload.size() + max - 6) / (max - 5);
  cReassembler again(owner(), "recut");
  std::unique_ptr<YMsg> whole;
  size_t units = 0;
  std::unique_ptr<unsigned char[]> buf(new unsigned char[max]);
  for (YMsg* seg = msg.getNextSegment(); seg != nullptr; seg = msg.getNextSegment()) {
    FUZZ_CHECK(!whole);  // nothing after the last segment
    int n = seg->getMsg(buf.get(), static_cast<unsigned short>(max));
    FUZZ_CHECK(n >= 5 && n <= max);
    Bytes unit(buf.get(), buf.get() + n);
    // The view the north link sends from gives the same bytes.
    YMsg::cSegmentView view;
    FUZZ_CHECK(msg.viewSegment(units, &view));
    Bytes viewed(view.header, view.header + YMsg::kHeaderSize);
    if (view.length > 0) viewed.insert(viewed.end(), view.payload, view.payload + view.length);
    FUZZ_CHECK(viewed == unit);
    cSegment s;
    FUZZ_CHECK(parse(unit, s));
    FUZZ_CHECK(s.id == msg.getMsgId() && s.index == static_cast<int>(units));
    FUZZ_CHECK(s.last == (units + 1 == expectedUnits));
    FUZZ_CHECK(s.payload.size() == (s.last ? payload.size() - units * (max - 5) : size_t(max - 5)));
    whole.reset(feed(again, unit));
    ++units;
  }
  FUZZ_CHECK(units == expectedUnits && msg.segmentCount() == units);
  FUZZ_CHECK(whole && whole->payload() == payload && whole->getMsgId() == msg.getMsgId());
  FUZZ_CHECK(!again.hasPending());
}

// One unit from the input: a kind byte, then raw bytes, or a segment whose header the input
// chooses (with the model's next index and partial id on offer, so multi-segment messages are
// reached easily):
//   kind % 8 == 0: u16 n, n raw bytes
//   otherwise:     [u8 id unless kind is odd], u8 index choice (0: 0, 1: u16 index, else next),
//                  u8 last (bit 0), then kind 6 or 7: u16 n and a fill byte (n bytes of it);
//                  others: u16 n and n bytes; kind 5 drops the unit's final byte.
Bytes nextUnit(cFuzzInput& in, int nextIndex, int pendingId) {
  int kind = in.u8() % 8;
  if (kind == 0) return in.bytes(in.range(0, 1100));
  cSegment s;
  s.id = (kind & 1) ? pendingId : in.u8() & 0x7F;
  int indexChoice = in.u8() % 4;
  s.index = indexChoice == 0 ? 0 : indexChoice == 1 ? in.u16() : nextIndex;
  s.last = (in.u8() & 1) != 0;
  if (kind >= 6) {  // a long payload of one repeated byte: reaches the size limit cheaply
    size_t n = in.range(0, kMaxMessage - 5);
    s.payload.assign(n, in.u8());
  } else {
    s.payload = in.bytes(in.range(0, 1100));
  }
  Bytes u = serialise(s);
  if (kind == 5) u.pop_back();
  return u;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzQuietLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cFuzzInput in(data, size);
  cReassembler r(owner(), "fuzz", cStats::kSouth);
  cModel model;
  uint64_t before[cModel::kDrops];
  for (int k = 0; k < cModel::kDrops; ++k)
    before[k] = cStats::get(cStats::kSouth, kDropCounters[k]);
  int nextIndex = 0, pendingId = 0;
  for (int step = 0; step < 256 && !in.empty(); ++step) {
    Bytes unit = nextUnit(in, nextIndex, pendingId);
    std::unique_ptr<YMsg> got(feed(r, unit));
    Bytes expected;
    int expectedId = -1;
    bool complete = model.feed(unit, expected, expectedId);
    FUZZ_CHECK(bool(got) == complete);
    FUZZ_CHECK(r.hasPending() == model.pending());
    FUZZ_CHECK(model.held() <= kMaxMessage);
    for (int k = 0; k < cModel::kDrops; ++k)
      FUZZ_CHECK(cStats::get(cStats::kSouth, kDropCounters[k]) - before[k] == model.drops(k));
    cSegment s;
    if (parse(unit, s)) {
      nextIndex = s.index + 1;
      pendingId = s.id;
    }
    if (!got) continue;
    FUZZ_CHECK(got->payload() == expected && got->getMsgId() == expectedId);
    FUZZ_CHECK(got->payload().size() <= kMaxMessage && got->isLastSegment());
    // Cutting tens of thousands of 1-byte segments would take each run a second; the smallest
    // size is exercised on messages of up to 2 KB, the others on every message.
    for (int max : kMaxSizes)
      if (max > 6 || got->payload().size() <= kSmallCutLimit) recut(*got, max);
  }
  return 0;
}
