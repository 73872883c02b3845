#include "ferrycat/cMsgPrinter.h"

#include <cstring>

namespace {

const char kHex[] = "0123456789abcdef";

// Length of the UTF-8 sequence starting at data[i] that stands for a printable character, or 0.
// Overlong forms, surrogates and the C0/C1 control characters (tab apart) are not printable.
size_t printableRun(const uint8_t* data, size_t length, size_t i) {
  uint8_t b = data[i];
  if (b < 0x80) return (b >= 0x20 && b != 0x7F) || b == '\t' ? 1 : 0;
  size_t n;
  uint8_t lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    if (b == 0xC2) lo = 0xA0;  // U+0080..U+009F are control characters
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (length - i < n || data[i + 1] < lo || data[i + 1] > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if ((data[i + k] & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

bool cMsgPrinter::parseFormat(const char* name, Format* format) {
  static const struct {
    const char* name;
    Format format;
  } kFormats[] = {{"text", kText}, {"json", kJson}, {"raw", kRaw}};
  for (const auto& f : kFormats) {
    if (strcmp(name, f.name) == 0) {
      *format = f.format;
      return true;
    }
  }
  return false;
}

cMsgPrinter::cMsgPrinter(Format format, FILE* out) : mFormat(format), mOut(out), mSeq(0) {}

bool cMsgPrinter::isPrintable(const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length;) {
    size_t n = printableRun(data, length, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string cMsgPrinter::hexDump(const uint8_t* data, size_t length) {
  std::string out;
  char offset[32];
  for (size_t at = 0; at < length; at += 16) {
    snprintf(offset, sizeof offset, "%08zx  ", at);
    out += offset;
    std::string ascii;
    for (size_t k = 0; k < 16; ++k) {
      if (at + k < length) {
        uint8_t b = data[at + k];
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ' ';
        ascii += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
      } else {
        out += "   ";
      }
      if (k == 7) out += ' ';
    }
    out += " |" + ascii + "|\n";
  }
  return out;
}

std::string cMsgPrinter::jsonString(const uint8_t* data, size_t length) {
  std::string out = "\"";
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (size_t n = printableRun(data, length, i)) {
      out.append(reinterpret_cast<const char*>(data + i), n);
      i += n - 1;
    } else if (b == 0xC2 && i + 1 < length && data[i + 1] >= 0x80 && data[i + 1] < 0xA0) {
      out += "\\u00";  // a C1 control character, valid UTF-8 but not printable
      out += kHex[data[i + 1] >> 4];
      out += kHex[data[i + 1] & 15];
      ++i;
    } else {
      out += "\\ufffd";  // a byte that is not UTF-8: the reader gets a replacement character
    }
  }
  return out + "\"";
}

std::string cMsgPrinter::textLine(const uint8_t* data, size_t length, const char* source) const {
  std::string out;
  if (source != nullptr) out = std::string(source) + ": ";
  out += std::to_string(length) + (length == 1 ? " byte" : " bytes");
  if (length == 0) return out + "\n";
  if (isPrintable(data, length))
    return out + ": " + std::string(reinterpret_cast<const char*>(data), length) + "\n";
  return out + ":\n" + hexDump(data, length);
}

std::string cMsgPrinter::jsonLine(const uint8_t* data, size_t length, int id,
                                  const char* source) const {
  std::string out = "{\"seq\":" + std::to_string(mSeq);
  if (source != nullptr)
    out += ",\"source\":" + jsonString(reinterpret_cast<const uint8_t*>(source), strlen(source));
  if (id >= 0) out += ",\"id\":" + std::to_string(id);
  out += ",\"length\":" + std::to_string(length);
  if (isPrintable(data, length)) return out + ",\"text\":" + jsonString(data, length) + "}\n";
  out += ",\"hex\":\"";
  for (size_t i = 0; i < length; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out + "\"}\n";
}

std::string cMsgPrinter::render(const uint8_t* data, size_t length, int id, const char* source) {
  ++mSeq;
  if (mFormat == kRaw) return std::string(reinterpret_cast<const char*>(data), length);
  return mFormat == kText ? textLine(data, length, source) : jsonLine(data, length, id, source);
}

bool cMsgPrinter::print(const uint8_t* data, size_t length, int id, const char* source) {
  std::string bytes = render(data, length, id, source);
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), mOut) != bytes.size()) return false;
  return fflush(mOut) == 0;
}
