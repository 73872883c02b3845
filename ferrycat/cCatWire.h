#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A whole message as it goes out, made by libferry's public codec (the daemon's own segmenting
// and framing), so what ferrycat and the simulated board send is byte for byte what the daemon
// sends.
namespace cCatWire {

// The segments of at most maxBytes serialised bytes (6 to 1024, a datagram's), in order.
// False (nothing in *out) for a message over 65535 bytes or a maxBytes out of range.
bool segments(int id, const uint8_t* data, size_t length, int maxBytes,
              std::vector<std::vector<uint8_t>>* out);
// The same segments, each framed, back to back: the serial-line bytes of the message. The
// segment size of the serial line is 6 to 1021.
bool frames(int id, const uint8_t* data, size_t length, int segSize, std::string* out);

}  // namespace cCatWire
