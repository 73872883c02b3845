#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Just enough JSON to replay the test vectors: objects, arrays, strings without escapes,
// integers. Throws std::runtime_error on anything else.
struct cJson {
  enum Type { kNull, kNumber, kString, kArray, kObject } type = kNull;
  long long number = 0;
  std::string text;
  std::vector<cJson> items;
  std::map<std::string, cJson> fields;

  static cJson parse(const std::string& text);
  const cJson& operator[](const std::string& key) const;
  bool has(const std::string& key) const { return fields.count(key) > 0; }
  // A hex string's bytes.
  std::vector<uint8_t> bytes() const;
};
