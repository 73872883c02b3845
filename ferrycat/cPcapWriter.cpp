#include "ferrycat/cPcapWriter.h"

#include <errno.h>

#include <cstring>

namespace {

// pcapng block types and option codes.
constexpr uint32_t kSectionHeader = 0x0A0D0D0A, kInterface = 1, kEnhancedPacket = 6;
constexpr uint16_t kEndOfOptions = 0, kComment = 1, kShbUserAppl = 4, kIfName = 2, kIfTsResol = 9,
                   kEpbFlags = 2;
constexpr uint32_t kInbound = 1, kOutbound = 2;  // epb_flags bits 0-1

void put(std::string* s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
}

void pad(std::string* s) {
  while (s->size() % 4 != 0) s->push_back('\0');
}

}  // namespace

void cPcapWriter::option(std::string* block, uint16_t code, const std::string& value) {
  put(block, code, 2);
  put(block, value.size(), 2);
  *block += value;
  pad(block);
}

void cPcapWriter::block(uint32_t type, const std::string& body) {
  std::string b;
  uint32_t total = static_cast<uint32_t>(body.size() + 12);
  put(&b, type, 4);
  put(&b, total, 4);
  b += body;
  put(&b, total, 4);
  if (mError == 0 && fwrite(b.data(), 1, b.size(), mFile) != b.size()) mError = errno ? errno : EIO;
}

bool cPcapWriter::open(const std::string& path, const std::string& comment, std::string* error) {
  mPath = path;
  mFile = fopen(path.c_str(), "wb");
  if (mFile == nullptr) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  std::string shb;
  put(&shb, 0x1A2B3C4D, 4);  // byte order magic
  put(&shb, 1, 2);           // version 1.0
  put(&shb, 0, 2);
  put(&shb, UINT64_MAX, 8);  // section length not given
  option(&shb, kComment, comment);
  option(&shb, kShbUserAppl, "ferrycat decode");
  put(&shb, kEndOfOptions, 4);
  block(kSectionHeader, shb);
  std::string idb;
  put(&idb, kLinkType, 2);
  put(&idb, 0, 2);
  put(&idb, 0, 4);  // no snapshot length
  option(&idb, kIfName, "ferryd serial line");
  option(&idb, kIfTsResol, std::string(1, 9));  // nanoseconds
  put(&idb, kEndOfOptions, 4);
  block(kInterface, idb);
  return true;
}

void cPcapWriter::packet(uint64_t ns, bool toModule, Kind kind, const unsigned char* data,
                         size_t length, const std::string& comment) {
  if (mFile == nullptr) return;
  std::string epb;
  put(&epb, 0, 4);  // interface 0
  put(&epb, ns >> 32, 4);
  put(&epb, ns & 0xFFFFFFFF, 4);
  put(&epb, length + 1, 4);
  put(&epb, length + 1, 4);
  epb.push_back(static_cast<char>(kind));
  epb.append(reinterpret_cast<const char*>(data), length);
  pad(&epb);
  std::string flags;
  put(&flags, toModule ? kOutbound : kInbound, 4);
  option(&epb, kEpbFlags, flags);
  if (!comment.empty()) option(&epb, kComment, comment);
  put(&epb, kEndOfOptions, 4);
  block(kEnhancedPacket, epb);
}

bool cPcapWriter::close(std::string* error) {
  if (mFile == nullptr) return true;
  if (fclose(mFile) != 0 && mError == 0) mError = errno;
  mFile = nullptr;
  if (mError == 0) return true;
  *error = mPath + ": " + strerror(mError);
  return false;
}

cPcapWriter::~cPcapWriter() {
  if (mFile != nullptr) fclose(mFile);
}
