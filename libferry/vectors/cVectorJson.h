#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The JSON text of the test vectors, written field by field: bytes as lower-case hex strings,
// one case per line, so the committed file diffs case by case.
class cVectorJson {
 public:
  using Bytes = std::vector<uint8_t>;

  static std::string hex(const Bytes& b);
  static std::string quote(const std::string& s);
  static std::string hexList(const std::vector<Bytes>& list);

  // A top-level field, before the first section.
  void meta(const char* name, const std::string& json);
  // Starts a case object; fields follow with field(), and end() closes it.
  void begin();
  void field(const char* name, const std::string& json);
  void field(const char* name, long long value);
  void end();
  // Closes an array of cases and opens the next under name.
  void section(const char* name);
  std::string finish();

 private:
  std::string mOut;
  bool mFirstCase = true;
  bool mFirstField = true;
};
