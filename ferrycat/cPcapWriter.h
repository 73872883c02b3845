#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Writes "ferrycat decode --pcap": a pcapng file (one section, one interface) of the serial
// line's events, for Wireshark and ferryd's dissector (docs/serial-trace.md). Each packet is one
// event's bytes as they crossed the line after a one-byte kind; its direction is pcapng's
// inbound (module to daemon) or outbound (daemon to module) flag, its time stamp in nanoseconds.
class cPcapWriter {
 public:
  // The first byte of every packet.
  enum Kind {
    kFrame = 1,    // a frame: flags, escaped payload and FCS, as the unframer took them
    kLine = 2,     // a command, status or reply line up to its LF
    kSkipped = 3,  // bytes that belong to no line and no frame
    kGap = 4,      // a gap in the trace: a u32 (little-endian), bytes not recorded
  };
  // LINKTYPE_USER0: a link type for private use, which the dissector claims.
  static constexpr uint16_t kLinkType = 147;

  // Opens path and writes the section and interface headers; comment says where the time
  // stamps come from. False with the reason in *error when the file cannot be written.
  bool open(const std::string& path, const std::string& comment, std::string* error);
  // Adds one packet; comment (may be empty) goes with it.
  void packet(uint64_t ns, bool toModule, Kind kind, const unsigned char* data, size_t length,
              const std::string& comment = "");
  // Closes the file: false with the reason in *error when any write failed.
  bool close(std::string* error);
  ~cPcapWriter();

 private:
  static void option(std::string* block, uint16_t code, const std::string& value);
  void block(uint32_t type, const std::string& body);

  FILE* mFile = nullptr;
  std::string mPath;
  int mError = 0;
};
