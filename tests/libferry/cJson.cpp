#include "tests/libferry/cJson.h"

#include <stdexcept>

namespace {

struct cParser {
  const std::string& s;
  size_t at = 0;

  void space() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t')) ++at;
  }
  char peek() {
    space();
    if (at >= s.size()) throw std::runtime_error("JSON ends early");
    return s[at];
  }
  void expect(char c) {
    if (peek() != c) throw std::runtime_error(std::string("JSON: expected ") + c);
    ++at;
  }
  std::string string() {
    expect('"');
    size_t end = s.find('"', at);
    if (end == std::string::npos || s.find('\\', at) < end)
      throw std::runtime_error("JSON: unterminated or escaped string");
    std::string out = s.substr(at, end - at);
    at = end + 1;
    return out;
  }
  cJson value() {
    cJson v;
    char c = peek();
    if (c == '"') {
      v.type = cJson::kString;
      v.text = string();
    } else if (c == '[') {
      v.type = cJson::kArray;
      ++at;
      while (peek() != ']') {
        v.items.push_back(value());
        if (peek() == ',') ++at;
      }
      ++at;
    } else if (c == '{') {
      v.type = cJson::kObject;
      ++at;
      while (peek() != '}') {
        std::string key = string();
        expect(':');
        v.fields[key] = value();
        if (peek() == ',') ++at;
      }
      ++at;
    } else {
      size_t used = 0;
      v.type = cJson::kNumber;
      v.number = std::stoll(s.substr(at, 24), &used);
      at += used;
    }
    return v;
  }
};

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw std::runtime_error("JSON: not a hex digit");
}

}  // namespace

cJson cJson::parse(const std::string& text) {
  cParser p{text};
  return p.value();
}

const cJson& cJson::operator[](const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) throw std::runtime_error("JSON: no field " + key);
  return it->second;
}

std::vector<uint8_t> cJson::bytes() const {
  std::vector<uint8_t> out(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
  return out;
}
