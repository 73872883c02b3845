#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Wire-format helpers for the bench and the tests: segments as the daemon exchanges them (one per
// datagram or frame), frames as the module's bypass stream carries them, and test payloads.
namespace cBenchWire {

// One serialised segment with any header values: last flag and 7-bit id, segment index, payload.
std::vector<uint8_t> segment(int id, int index, bool last, const std::vector<uint8_t>& payload);
// A whole message cut by the project's YMsg into segments of at most maxBytes serialised bytes.
std::vector<std::vector<uint8_t>> segments(int id, const std::vector<uint8_t>& payload,
                                           int maxBytes);
// One HDLC frame of a unit, as the module's peer sends it in bypass mode.
std::vector<uint8_t> frame(const std::vector<uint8_t>& unit);
// n bytes that differ from message to message (seed) and cover every byte value.
std::vector<uint8_t> payload(size_t n, int seed);
std::vector<uint8_t> bytes(const std::string& text);

}  // namespace cBenchWire
