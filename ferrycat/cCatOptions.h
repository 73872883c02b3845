#pragma once

#include <getopt.h>

#include <functional>
#include <string>
#include <vector>

#include "ferrycat/cMsgPrinter.h"

// The options both ends (and encode) share: how messages come in, how they are shown, when to
// stop. Each subcommand parses them with getopt_long together with its own.
struct cCatOptions {
  cMsgPrinter::Format format = cMsgPrinter::kText;
  bool whole = false;              // -w: all of standard input is one message
  bool hex = false;                // -x: the input is hex text
  std::vector<std::string> files;  // -f: each file one message (instead of standard input)
  long count = -1;                 // -n: stop after this many messages received (-1: never)
  double timeout = -1;             // -t: stop after this many seconds without traffic (-1: never)
  bool quiet = false;              // -q: no notices, no summary
  bool verbose = false;            // -v: a line for every unit dropped
  int segSize = 0;                 // -s: the command's default, then the user's
  int segMin = 0, segMax = 0;      // the range -s takes, set by the command
  bool help = false;

  // The shared options' letters for getopt_long's short string, and their long forms.
  static const char kShort[];
  static const option kLong[];  // ends with a zero entry
  // The shared options' lines for --help.
  static const char kHelp[];

  // Both option lists with the command's own added (its long options need no zero entry).
  static std::string shortOptions(const char* own);
  static std::vector<option> longOptions(const std::vector<option>& own);

  // Takes one of the shared options; false with *why for a bad value. A letter that is not one of
  // them: false with *why empty.
  bool take(int letter, const char* arg, std::string* why);

  // One getopt_long pass over argv with the given option lists (from shortOptions and
  // longOptions, or a command's own selection): the shared options go to take, the command's own
  // to own, which returns an error text (empty when the value is good). Returns kContinue, or the
  // status to end with: a usage error, said in one line, or kOk after --help has printed
  // printHelp().
  static constexpr int kContinue = -1;
  using cOwn = std::function<std::string(int letter, const char* arg)>;
  int parse(const char* command, int argc, char** argv, const std::string& shortOpts,
            const std::vector<option>& longOpts, void (*printHelp)(), const cOwn& own);

  // A whole decimal number in [min, max]; false for anything else.
  static bool parseNumber(const char* text, long min, long max, long* out);
};
