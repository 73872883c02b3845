#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "libferry/ferry.h"

// Helpers of the libferry tests: a codec freed at the end of the test, and messages and drops
// decoded from bytes fed in pieces of a chosen size.
namespace cCodecTest {

struct cCodecPtr {
  ferry_codec* c = nullptr;
  cCodecPtr(int kind, int segmentSize);
  ~cCodecPtr() { ferry_codec_free(c); }
  cCodecPtr(const cCodecPtr&) = delete;
  cCodecPtr& operator=(const cCodecPtr&) = delete;
  operator ferry_codec*() const { return c; }
};

struct cDecoded {
  std::vector<std::vector<uint8_t>> messages;
  std::vector<int> ids;
  std::vector<std::string> drops;  // drop names, in order
  std::vector<int> dropIds;
  std::vector<size_t> dropLengths;
  std::vector<size_t> segments;  // segment events: serialised sizes and ids
  std::vector<int> segmentIds;
};

// Feeds bytes in pieces of at most piece bytes (serial kind) and takes every event.
cDecoded feedStream(ferry_codec* c, const std::vector<uint8_t>& bytes, size_t piece);
// Feeds each datagram and takes every event.
cDecoded feedDatagrams(ferry_codec* c, const std::vector<std::vector<uint8_t>>& datagrams);
// Takes all output: the serial kind's bytes in one piece, the datagram kind's datagrams.
std::vector<std::vector<uint8_t>> takeOutput(ferry_codec* c);
// A message of n bytes full of what the framing escapes ('A', 0x7E, 0x7D) and "AT-AB".
std::vector<uint8_t> awkward(size_t n, unsigned seed = 1);

}  // namespace cCodecTest
