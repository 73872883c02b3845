// Replays docs/test-vectors.json against the library: what another language's implementation
// must also do. The file's expectations come from the library, so each receiving case is also
// checked to show the drop it is named for, and every drop reason but out-of-memory to have a case.
#include <fstream>
#include <set>
#include <sstream>

#include "tests/libferry/cCodecTest.h"
#include "tests/libferry/cJson.h"

using namespace cCodecTest;

namespace {

const cJson& vectors() {
  static const cJson v = [] {
    std::ifstream in(FERRY_VECTORS, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return cJson::parse(text.str());
  }();
  return v;
}

int kindOf(const cJson& c) {
  return c["kind"].text == "serial" ? FERRY_KIND_SERIAL : FERRY_KIND_DATAGRAM;
}

TEST(Vectors, MessagesEncodeAsListed) {
  ASSERT_EQ("ferry-test-vectors", vectors()["format"].text);
  for (const cJson& c : vectors()["encode"].items) {
    SCOPED_TRACE(c["name"].text);
    int size = int(c["segment_size"].number);
    std::vector<uint8_t> m = c["message"].bytes();
    // The segments are what the datagram kind sends at the same size.
    cCodecPtr seg(FERRY_KIND_DATAGRAM, size);
    ASSERT_EQ(c["id"].number, ferry_codec_send(seg, m.data(), m.size(), int(c["id"].number)));
    std::vector<std::vector<uint8_t>> segments = takeOutput(seg);
    ASSERT_EQ(c["segments"].items.size(), segments.size());
    for (size_t i = 0; i < segments.size(); ++i)
      ASSERT_EQ(c["segments"].items[i].bytes(), segments[i]) << "segment " << i;
    if (!c.has("bytes")) continue;
    cCodecPtr line(FERRY_KIND_SERIAL, size);
    ferry_codec_send(line, m.data(), m.size(), int(c["id"].number));
    std::vector<uint8_t> bytes;
    for (const auto& part : takeOutput(line)) bytes.insert(bytes.end(), part.begin(), part.end());
    EXPECT_EQ(c["bytes"].bytes(), bytes);
    cDecoded back = feedStream(line, bytes, 4093);
    ASSERT_EQ(1u, back.messages.size());
    EXPECT_EQ(m, back.messages[0]);
  }
}

TEST(Vectors, ReceivedBytesGiveTheListedEventsAndCounters) {
  std::set<std::string> covered;
  for (const cJson& c : vectors()["decode"].items) {
    SCOPED_TRACE(c["name"].text);
    cCodecPtr rx(kindOf(c), 0);
    cDecoded got;
    if (c.has("bytes")) {
      got = feedStream(rx, c["bytes"].bytes(), 5);
    } else {
      std::vector<std::vector<uint8_t>> datagrams;
      for (const cJson& d : c["datagrams"].items) datagrams.push_back(d.bytes());
      got = feedDatagrams(rx, datagrams);
    }
    size_t m = 0, d = 0;
    for (const cJson& e : c["events"].items) {
      if (e.has("drop")) {
        ASSERT_LT(d, got.drops.size());
        EXPECT_EQ(e["id"].number, got.dropIds[d]);
        EXPECT_EQ(e["length"].number, (long long)got.dropLengths[d]);
        EXPECT_EQ(e["drop"].text, got.drops[d++]);
      } else {
        ASSERT_LT(m, got.messages.size());
        EXPECT_EQ(e["message"].bytes(), got.messages[m]);
        EXPECT_EQ(e["id"].number, got.ids[m++]);
      }
    }
    EXPECT_EQ(m, got.messages.size());
    EXPECT_EQ(d, got.drops.size());
    ferry_counters k;
    ferry_codec_counters(rx, &k, sizeof k);
    EXPECT_EQ(c["counters"]["messages"].number, (long long)k.messages);
    for (int r = FERRY_DROP_INVALID; r <= FERRY_DROP_OUT_OF_MEMORY; ++r) {
      const char* name = ferry_drop_name(r);
      EXPECT_EQ(c["counters"].has(name) ? c["counters"][name].number : 0, (long long)k.dropped[r])
          << name;
    }
    const std::string& covers = c["covers"].text;
    if (covers.empty()) continue;
    EXPECT_NE(got.drops.end(), std::find(got.drops.begin(), got.drops.end(), covers));
    covered.insert(covers);
  }
  for (int r = FERRY_DROP_INVALID; r < FERRY_DROP_OUT_OF_MEMORY; ++r)
    EXPECT_EQ(1u, covered.count(ferry_drop_name(r))) << ferry_drop_name(r) << " has no case";
}

}  // namespace
