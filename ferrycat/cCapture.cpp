#include "ferrycat/cCapture.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "modem/cSerialTrace.h"

namespace {

uint64_t getLE(const std::string& s, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

bool cCapture::parse(const std::string& input, Kind kind, Dir rawDir, std::string* error) {
  mRecords.clear();
  mProblem.clear();
  if (kind == kAuto) {
    if (input.compare(0, 8, cSerialTrace::kMagic) == 0) {
      kind = kTrace;
    } else if (isHex(input)) {
      kind = kHex;
    } else {
      kind = kRaw;
    }
  }
  mKind = kind;
  if (kind == kTrace) return parseTrace(input, error);
  if (kind == kHex) return parseHex(input, rawDir, error);
  mRecords.push_back({0, rawDir, false, 0, std::vector<unsigned char>(input.begin(), input.end())});
  return true;
}

// Hex digits in pairs, whitespace anywhere between pairs; at least one pair.
bool cCapture::isHex(const std::string& input) {
  size_t digits = 0;
  for (char c : input) {
    if (hexValue(c) >= 0) {
      ++digits;
    } else if (!isBlank(c) || digits % 2 != 0) {
      return false;
    }
  }
  return digits > 0 && digits % 2 == 0;
}

bool cCapture::parseHex(const std::string& input, Dir dir, std::string* error) {
  cRecord r{0, dir, false, 0, {}};
  int high = -1;
  for (size_t i = 0; i < input.size(); ++i) {
    int v = hexValue(input[i]);
    if (v < 0 && isBlank(input[i]) && high < 0) continue;
    if (v < 0) {
      *error = "not hex text: character " + std::to_string(i + 1) +
               " is neither a hex digit of a " + "pair nor whitespace";
      return false;
    }
    if (high < 0) {
      high = v;
    } else {
      r.bytes.push_back(static_cast<unsigned char>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) {
    *error = "not hex text: an odd number of hex digits";
    return false;
  }
  mRecords.push_back(std::move(r));
  return true;
}

bool cCapture::traceHeader(const std::string& input, size_t* headerSize, std::string* error) {
  const size_t kHeader = cSerialTrace::kHeaderSize;
  if (input.size() < 8 || input.compare(0, 8, cSerialTrace::kMagic) != 0) {
    *error = "not a serial trace: the file does not start with \"FERRYTRC\"";
    return false;
  }
  if (input.size() < kHeader) {
    *error = "serial trace cut inside its header (" + std::to_string(input.size()) + " bytes)";
    return false;
  }
  uint64_t version = getLE(input, 8, 2);
  *headerSize = getLE(input, 10, 2);
  if (version != cSerialTrace::kVersion || *headerSize < kHeader) {
    *error = "serial trace of version " + std::to_string(version) + " (header " +
             std::to_string(*headerSize) + " bytes): only version 1 is known";
    return false;
  }
  if (*headerSize > input.size()) {
    *error = "serial trace cut inside its header: the header says " + std::to_string(*headerSize) +
             " bytes, the file holds " + std::to_string(input.size());
    return false;
  }
  return true;
}

cCapture::Stop cCapture::takeRecords(const std::string& input, size_t* at,
                                     std::vector<cRecord>* records, std::string* why) {
  const size_t kRecord = cSerialTrace::kRecordHeaderSize;
  for (size_t& a = *at; a < input.size();) {
    if (input.size() - a < kRecord) {
      *why = "record at byte " + std::to_string(a) + " cut inside its header";
      return kCut;
    }
    cRecord r{getLE(input, a, 8), static_cast<Dir>(input[a + 8] & 1), false, 0, {}};
    unsigned char dir = static_cast<unsigned char>(input[a + 8]);
    unsigned char type = static_cast<unsigned char>(input[a + 9]);
    size_t len = getLE(input, a + 10, 2);
    if (dir > 1 || type > 1 || (type == cSerialTrace::kLost && len != 4)) {
      *why = "record at byte " + std::to_string(a) + " is not a record (direction " +
             std::to_string(dir) + ", type " + std::to_string(type) + ")";
      return kGarbled;
    }
    if (input.size() - a - kRecord < len) {
      *why = "record at byte " + std::to_string(a) +
             " cut: " + std::to_string(input.size() - a - kRecord) + " of its " +
             std::to_string(len) + " bytes";
      return kCut;
    }
    const char* data = input.data() + a + kRecord;
    if (type == cSerialTrace::kLost) {
      r.lost = true;
      r.lostBytes = static_cast<uint32_t>(getLE(input, a + kRecord, 4));
    } else {
      r.bytes.assign(data, data + len);
    }
    records->push_back(std::move(r));
    a += kRecord + len;
  }
  return kEnd;
}

void cCapture::inTimeOrder(std::vector<cRecord>* records) {
  std::stable_sort(records->begin(), records->end(),
                   [](const cRecord& a, const cRecord& b) { return a.ns < b.ns; });
}

bool cCapture::parseTrace(const std::string& input, std::string* error) {
  size_t at;
  if (!traceHeader(input, &at, error)) return false;
  takeRecords(input, &at, &mRecords, &mProblem);
  inTimeOrder(&mRecords);
  return true;
}
