#include "libferry/vectors/cVectorJson.h"

std::string cVectorJson::hex(const Bytes& b) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s = "\"";
  s.reserve(b.size() * 2 + 2);
  for (uint8_t x : b) {
    s += kDigits[x >> 4];
    s += kDigits[x & 15];
  }
  return s + "\"";
}

std::string cVectorJson::quote(const std::string& s) {
  return "\"" + s + "\"";  // names and reasons only: no character needs escaping
}

std::string cVectorJson::hexList(const std::vector<Bytes>& list) {
  std::string s = "[";
  for (size_t i = 0; i < list.size(); ++i) s += (i ? "," : "") + hex(list[i]);
  return s + "]";
}

void cVectorJson::meta(const char* name, const std::string& json) {
  mOut += (mOut.empty() ? "{\n  \"" : "  \"") + std::string(name) + "\": " + json + ",\n";
}

void cVectorJson::section(const char* name) {
  mOut += mOut.empty() ? "{\n" : mFirstCase ? "" : "\n  ],\n";
  mOut += "  \"" + std::string(name) + "\": [";
  mFirstCase = true;
}

void cVectorJson::begin() {
  mOut += mFirstCase ? "\n    {" : ",\n    {";
  mFirstCase = false;
  mFirstField = true;
}

void cVectorJson::field(const char* name, const std::string& json) {
  mOut += (mFirstField ? "\"" : ", \"") + std::string(name) + "\": " + json;
  mFirstField = false;
}

void cVectorJson::field(const char* name, long long value) {
  field(name, std::to_string(value));
}

void cVectorJson::end() {
  mOut += "}";
}

std::string cVectorJson::finish() {
  return mOut + "\n  ]\n}\n";
}
