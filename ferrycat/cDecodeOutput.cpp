#include "ferrycat/cDecodeOutput.h"

#include <errno.h>

#include <cinttypes>

cDecodeOutput::cDecodeOutput(bool json, bool quiet, bool timed, FILE* out)
    : mJson(json), mQuiet(quiet), mTimed(timed), mOut(out), mPrinter(cMsgPrinter::kText, out) {}

void cDecodeOutput::setPosition(uint64_t ns, char dir, uint64_t offset) {
  mNs = ns;
  mDir = dir;
  mOffset = offset;
}

std::string cDecodeOutput::prefix() const {
  char text[64];
  if (mTimed) {
    snprintf(text, sizeof text, "%12.6f %c @%" PRIu64, (mNs - mBase) / 1e9, mDir, mOffset);
  } else {
    snprintf(text, sizeof text, "%c @%" PRIu64, mDir, mOffset);
  }
  return text;
}

std::string cDecodeOutput::jsonHead(const char* name) const {
  char text[96];
  if (mTimed) {
    snprintf(text, sizeof text, "{\"t\":%.6f,", (mNs - mBase) / 1e9);
  } else {
    snprintf(text, sizeof text, "{");
  }
  return std::string(text) + "\"dir\":\"" + mDir + "\",\"at\":" + std::to_string(mOffset) +
         ",\"event\":\"" + name + "\"";
}

// Printable ASCII stays as it is; quotes, backslashes and other bytes are escaped.
std::string cDecodeOutput::quoted(const std::string& value) {
  std::string out = "\"";
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out + "\"";
}

std::string cDecodeOutput::hex(const uint8_t* data, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

void cDecodeOutput::event(const char* name, const std::vector<cField>& fields) {
  if (mQuiet || mFailed) return;
  std::string line;
  if (mJson) {
    line = jsonHead(name);
    for (const cField& f : fields) {
      const uint8_t* v = reinterpret_cast<const uint8_t*>(f.value.data());
      line += std::string(",\"") + f.key +
              "\":" + (f.number ? f.value : cMsgPrinter::jsonString(v, f.value.size()));
      // Bytes that are not text (noise, a wrong speed) also go in hex, to be read back exactly.
      if (!f.number && !cMsgPrinter::isPrintable(v, f.value.size()))
        line += std::string(",\"") + f.key + "-hex\":\"" + hex(v, f.value.size()) + "\"";
    }
    line += "}";
  } else {
    line = prefix() + " " + name;
    for (const cField& f : fields) {
      bool plain = f.number || f.value.find_first_of(" \"\\") == std::string::npos;
      for (unsigned char c : f.value) plain = plain && c > 0x20 && c < 0x7F;
      line += std::string(" ") + f.key + "=" + (plain ? f.value : quoted(f.value));
    }
  }
  write(line + "\n");
}

void cDecodeOutput::message(int id, const std::vector<uint8_t>& payload) {
  if (mQuiet || mFailed) return;
  if (!mJson) {
    std::string source = prefix() + " message " + std::to_string(id);
    if (!mPrinter.print(payload.data(), payload.size(), id, source.c_str())) {
      mFailed = true;
      mError = errno;
    }
    return;
  }
  std::string line = jsonHead("message") + ",\"id\":" + std::to_string(id) +
                     ",\"length\":" + std::to_string(payload.size());
  if (cMsgPrinter::isPrintable(payload.data(), payload.size())) {
    line += ",\"text\":" + cMsgPrinter::jsonString(payload.data(), payload.size());
  } else {
    line += ",\"hex\":\"" + hex(payload.data(), payload.size()) + "\"";
  }
  write(line + "}\n");
}

void cDecodeOutput::counts(char dir, const std::vector<cField>& fields) {
  if (mFailed) return;
  std::string line;
  if (mJson) {
    line = std::string("{\"event\":\"counts\",\"dir\":\"") + dir + "\"";
    for (const cField& f : fields) line += std::string(",\"") + f.key + "\":" + f.value;
    line += "}";
  } else {
    line = std::string("counts ") + dir;
    for (const cField& f : fields) line += std::string(" ") + f.key + "=" + f.value;
  }
  write(line + "\n");
}

void cDecodeOutput::write(const std::string& line) {
  if (fwrite(line.data(), 1, line.size(), mOut) != line.size()) {
    mFailed = true;
    mError = errno;
  }
}
