#pragma once

// Tokenizer for module lines. parseList splits a line in place at either separator and returns an
// array-new list of pointers into the line, terminated by a null pointer, or null when the line
// holds no token. Release the list with one delete[]; the tokens need no release of their own.
class cArgParser {
 public:
  static char** parseList(char* line, char separator1, char separator2);
  // Number of tokens in a list from parseList; 0 for a null list.
  static int argCnt(char** list);
};
