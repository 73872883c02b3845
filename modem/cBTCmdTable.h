#pragma once

// How one AT command is sent and how its reply is recognised. One row per command class.
struct cBTCmdRow {
  enum Rule {
    kExact,   // word 1 equals word (or altWord) exactly
    kPrefix,  // the first prefixLen characters of word 1 equal those of word
    kConfig,  // configuration lines: cBTCmdGetConfig's own key table decides
  };

  const char* format;  // printf format of the command line, ending in CR LF
  int retries;         // one-second waits without a reply that the transaction tolerates
  char sep1;           // word separators of the reply line
  char sep2;
  int minWords;  // fewer words never complete the command
  Rule rule;
  const char* word;
  const char* altWord;  // a second accepted word (kExact), or null
  int prefixLen;        // characters compared (kPrefix)

  // Splits reply in place and applies the row's rule to word 1 (the first word is never
  // examined). Not for kConfig rows.
  bool matches(char* reply) const;
  // True when word (word 1 of a reply) completes the command.
  bool matchesWord(const char* word) const;
};

enum cBTCmdId {
  kCmdGetConfig,
  kCmdSetName,
  kCmdSPPDisconnect,
  kCmdUpdateInquiryScan,
  kCmdEnableBond,
  kCmdDisableBond,
  kCmdEraseBondTable,
  kCmdCount
};

extern const cBTCmdRow kBTCmdTable[kCmdCount];

// The longest name that fits the 63-character DefaultLocalName line with its CR LF.
int maxLocalNameLength();
