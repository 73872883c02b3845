#include "support/cArgParser.h"

#include <cstring>

namespace {

bool isSeparator(char c, char s1, char s2) {
  return c == s1 || c == s2;
}

}  // namespace

// Two passes: count the tokens, then cut the line at the separators and collect the pointers.
// Runs of separators yield no empty tokens.
char** cArgParser::parseList(char* line, char separator1, char separator2) {
  if (line == nullptr) return nullptr;
  int count = 0;
  bool inToken = false;
  for (const char* p = line; *p != '\0'; ++p) {
    bool sep = isSeparator(*p, separator1, separator2);
    if (!sep && !inToken) ++count;
    inToken = !sep;
  }
  if (count == 0) return nullptr;

  char** list = new char*[count + 1];
  int n = 0;
  inToken = false;
  for (char* p = line; *p != '\0'; ++p) {
    if (isSeparator(*p, separator1, separator2)) {
      *p = '\0';
      inToken = false;
    } else if (!inToken) {
      list[n++] = p;
      inToken = true;
    }
  }
  list[n] = nullptr;
  return list;
}

int cArgParser::argCnt(char** list) {
  if (list == nullptr) return 0;
  int n = 0;
  while (list[n] != nullptr) ++n;
  return n;
}
