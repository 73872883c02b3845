// Writes docs/test-vectors.json: what libferry makes of messages (segments, serial-line bytes,
// datagrams) and of received bytes (messages, drops, counters). Every expected value is the
// library's own output; the inputs of the receiving cases are built here, one per drop reason.
// Usage: ferry_vectors OUT.json | ferry_vectors --check FILE.json (exit 1 when FILE differs)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "libferry/ferry.h"
#include "libferry/vectors/cVectorJson.h"
#include "support/cHDLC.h"

namespace {

using Bytes = cVectorJson::Bytes;

const char* kindName(int kind) {
  return kind == FERRY_KIND_SERIAL ? "serial" : "datagram";
}

ferry_codec* codec(int kind, int segmentSize) {
  ferry_codec* c = nullptr;
  ferry_codec_new(kind, segmentSize, &c);
  return c;
}

Bytes encode(int kind, int segmentSize, const Bytes& message, int id) {
  ferry_codec* c = codec(kind, segmentSize);
  Bytes out(ferry_codec_encoded_size(c, message.size()));
  size_t n = 0;
  ferry_codec_encode(c, message.data(), message.size(), id, out.data(), out.size(), &n);
  ferry_codec_free(c);
  out.resize(n);
  return out;
}

// Datagram-kind output back to back, cut at each segment's own length.
std::vector<Bytes> cut(const Bytes& units) {
  std::vector<Bytes> out;
  for (size_t at = 0; at + 5 <= units.size();) {
    size_t n = 5 + (units[at + 3] | (units[at + 4] << 8));
    out.emplace_back(units.begin() + at, units.begin() + at + n);
    at += n;
  }
  return out;
}

Bytes segment(int id, int index, bool last, const std::string& payload) {
  Bytes s = {uint8_t(id | (last ? 0x80 : 0)), uint8_t(index), uint8_t(index >> 8),
             uint8_t(payload.size()), uint8_t(payload.size() >> 8)};
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

Bytes frame(const Bytes& unit) {
  Bytes out(cHDLC::maxFramed(int(unit.size())));
  out.resize(cHDLC::frame(unit.data(), int(unit.size()), out.data()));
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes largest() {
  Bytes m(FERRY_MESSAGE_MAX);
  for (size_t i = 0; i < m.size(); ++i) m[i] = uint8_t(i * 31 + 7);
  return m;
}

void encodeCases(cVectorJson* json) {
  Bytes escaped = Bytes{0x7E, 0x7D, 0x41} + text("AT-AB");
  for (int b = 0; b < 256; ++b) escaped.push_back(uint8_t(b));
  const struct {
    int kind;
    int size;
  } configs[] = {{FERRY_KIND_SERIAL, 6},
                 {FERRY_KIND_SERIAL, 256},
                 {FERRY_KIND_SERIAL, 1021},
                 {FERRY_KIND_DATAGRAM, 1024}};
  for (const auto& k : configs) {
    const struct {
      const char* name;
      int id;
      Bytes message;
    } messages[] = {{"empty", 0, {}},
                    {"escaped-bytes", 1, escaped},
                    {"one-full-segment", 2, Bytes(size_t(k.size - 5), 0x41)},
                    {"largest", 127, largest()}};
    for (const auto& m : messages) {
      // 65,535 bytes in 1-byte segments would be most of the file and show nothing new.
      if (k.size == 6 && m.message.size() == FERRY_MESSAGE_MAX) continue;
      Bytes units = encode(FERRY_KIND_DATAGRAM, k.size, m.message, m.id);
      json->begin();
      json->field("name", cVectorJson::quote(std::string(kindName(k.kind)) + "-" +
                                             std::to_string(k.size) + "-" + m.name));
      json->field("kind", cVectorJson::quote(kindName(k.kind)));
      json->field("segment_size", k.size);
      json->field("id", m.id);
      json->field("message", cVectorJson::hex(m.message));
      json->field("segments", cVectorJson::hexList(cut(units)));
      if (k.kind == FERRY_KIND_SERIAL)
        json->field("bytes", cVectorJson::hex(encode(k.kind, k.size, m.message, m.id)));
      json->end();
    }
  }
}

struct cDecodeCase {
  const char* name;
  const char* covers;  // the drop reason the case shows, or "" for messages only
  int kind;
  std::vector<Bytes> input;  // serial: one byte stream; datagram: the datagrams
};

std::vector<cDecodeCase> decodeCases() {
  const int S = FERRY_KIND_SERIAL, D = FERRY_KIND_DATAGRAM;
  Bytes good = frame(segment(9, 0, true, "ok"));
  Bytes badFcs = frame(segment(5, 0, true, "hello"));
  badFcs[3] ^= 0x01;  // a payload byte changed, the check sequence not
  Bytes abort = Bytes{0x7E} + segment(4, 0, true, "cut") + Bytes{0x7D, 0x7E};
  Bytes oversize = Bytes{0x7E} + Bytes(1030, 0x11);
  Bytes longest = largest();
  std::vector<Bytes> tooLong = cut(encode(D, 1024, longest, 8));
  tooLong.back()[0] &= 0x7F;  // the last segment claims more follow
  tooLong.push_back(segment(8, int(tooLong.size()), true, "x"));
  tooLong.push_back(segment(10, 0, true, "after"));
  return {
      {"messages",
       "",
       S,
       {text("AT-AB\r\nOK\r\n") + Bytes{0x7E, 0x7E} + good + encode(S, 256, Bytes(600, 0x41), 3)}},
      {"bad-fcs", "bad-fcs", S, {badFcs + good}},
      {"aborted-frame", "aborted-frame", S, {abort + good}},
      {"oversize-frame", "oversize-frame", S, {oversize + good}},
      {"invalid-frame",
       "invalid",
       S,
       {frame(Bytes{1, 2, 3}) + frame(segment(1, 0, true, "abc") + Bytes{0}) + good}},
      {"invalid-datagram",
       "invalid",
       D,
       {Bytes{1, 2, 3, 4}, segment(1, 0, true, "abc") + Bytes{0}, Bytes{},
        segment(2, 0, true, "")}},
      {"stale",
       "stale",
       D,
       {segment(1, 0, false, "ab"), segment(1, 1, false, "cde"), segment(2, 0, true, "xy")}},
      {"lost-start",
       "lost-start",
       D,
       {segment(3, 1, true, "x"), segment(4, 0, false, "a"), segment(5, 1, true, "b"),
        segment(4, 1, true, "c")}},
      {"out-of-order",
       "out-of-order",
       D,
       {segment(6, 0, false, "a"), segment(6, 2, true, "c"), segment(7, 0, true, "d")}},
      {"oversize", "oversize", D, tooLong},
  };
}

std::string events(ferry_codec* c, const cDecodeCase& k, ferry_counters* counters) {
  std::string out = "[";
  auto take = [&] {
    ferry_event ev;
    while (ferry_codec_next(c, &ev, sizeof ev) == 1) {
      out += out.size() > 1 ? ", " : "";
      if (ev.type == FERRY_EVENT_MESSAGE)
        out += "{\"message\": " + cVectorJson::hex(Bytes(ev.data, ev.data + ev.length)) +
               ", \"id\": " + std::to_string(ev.id) + "}";
      else
        out += "{\"drop\": " + cVectorJson::quote(ferry_drop_name(ev.reason)) +
               ", \"id\": " + std::to_string(ev.id) + ", \"length\": " + std::to_string(ev.length) +
               "}";
    }
  };
  for (const Bytes& in : k.input) {
    size_t at = 0;
    do {
      size_t used = 0;
      ferry_codec_feed(c, in.data() + at, in.size() - at, &used);
      at += used;
      take();
    } while (at < in.size());
  }
  ferry_codec_counters(c, counters, sizeof *counters);
  return out + "]";
}

std::string countersJson(const ferry_counters& k) {
  std::string out =
      "{\"messages\": " + std::to_string(k.messages) + ", \"bytes\": " + std::to_string(k.bytes);
  for (int r = 1; r <= FERRY_DROP_OUT_OF_MEMORY; ++r) {
    if (k.dropped[r] > 0)
      out += ", " + cVectorJson::quote(ferry_drop_name(r)) + ": " + std::to_string(k.dropped[r]);
  }
  return out + "}";
}

std::string generate() {
  cVectorJson json;
  json.meta("format", cVectorJson::quote("ferry-test-vectors"));
  json.meta("version", "1");
  json.section("encode");
  encodeCases(&json);
  json.section("decode");
  for (const cDecodeCase& k : decodeCases()) {
    ferry_codec* c = codec(k.kind, 0);
    ferry_counters counters;
    std::string ev = events(c, k, &counters);
    ferry_codec_free(c);
    json.begin();
    json.field("name", cVectorJson::quote(k.name));
    json.field("covers", cVectorJson::quote(k.covers));
    json.field("kind", cVectorJson::quote(kindName(k.kind)));
    if (k.kind == FERRY_KIND_SERIAL)
      json.field("bytes", cVectorJson::hex(k.input[0]));
    else
      json.field("datagrams", cVectorJson::hexList(k.input));
    json.field("events", ev);
    json.field("counters", countersJson(counters));
    json.end();
  }
  return json.finish();
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: ferry_vectors OUT.json | ferry_vectors --check FILE.json\n");
    return 2;
  }
  std::string text = generate();
  const char* path = argv[argc - 1];
  if (check) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream committed;
    committed << in.rdbuf();
    if (in && committed.str() == text) return 0;
    std::fprintf(stderr, "%s differs from what the library generates now: run ferry_vectors %s\n",
                 path, path);
    return 1;
  }
  std::ofstream out(path, std::ios::binary);
  out << text;
  return out.flush() ? 0 : 1;
}
