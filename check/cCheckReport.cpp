#include "check/cCheckReport.h"

namespace {

// Control bytes (from a binary configuration file) are not sent to the terminal.
std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// clang-format off
const struct {
  const char* text;
  const char* json;
} kStatusNames[] = {
  {"ok  ", "ok"},
  {"warn", "warn"},
  {"FAIL", "fail"},
  {"skip", "skip"},
};
// clang-format on

}  // namespace

cCheckReport::cCheckReport(bool json, FILE* out)
    : mJson(json), mOut(out), mFailures(0), mWarnings(0) {}

void cCheckReport::add(const char* part, Status status, const std::string& found,
                       const std::string& fix) {
  if (status == kFail) ++mFailures;
  if (status == kWarn) ++mWarnings;
  if (mJson) {
    fprintf(mOut, "{\"part\":\"%s\",\"status\":\"%s\",\"found\":%s", part,
            kStatusNames[status].json, jsonString(found).c_str());
    if (!fix.empty()) fprintf(mOut, ",\"fix\":%s", jsonString(fix).c_str());
    fprintf(mOut, "}\n");
  } else {
    fprintf(mOut, "%s %-7s %s\n", kStatusNames[status].text, part, printable(found).c_str());
    size_t start = 0;
    while (!fix.empty() && start <= fix.size()) {
      size_t end = fix.find('\n', start);
      if (end == std::string::npos) end = fix.size();
      fprintf(mOut, "     %s %s\n", start == 0 ? "->" : "  ",
              fix.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  fflush(mOut);
}

void cCheckReport::summary() {
  if (mJson) return;
  if (mFailures == 0 && mWarnings == 0) {
    fprintf(mOut, "All checks passed.\n");
  } else {
    fprintf(mOut, "%d failed, %d warning%s.\n", mFailures, mWarnings, mWarnings == 1 ? "" : "s");
  }
  fflush(mOut);
}

std::string cCheckReport::jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {  // bytes of a binary file too: valid JSON whatever comes
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
