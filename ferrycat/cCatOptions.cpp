#include "ferrycat/cCatOptions.h"

#include <cerrno>
#include <cstdlib>

#include "ferrycat/cCat.h"

const char cCatOptions::kShort[] = "o:wxf:n:t:s:qvh";

const option cCatOptions::kLong[] = {{"output", required_argument, nullptr, 'o'},
                                     {"whole", no_argument, nullptr, 'w'},
                                     {"hex", no_argument, nullptr, 'x'},
                                     {"file", required_argument, nullptr, 'f'},
                                     {"count", required_argument, nullptr, 'n'},
                                     {"timeout", required_argument, nullptr, 't'},
                                     {"segsize", required_argument, nullptr, 's'},
                                     {"quiet", no_argument, nullptr, 'q'},
                                     {"verbose", no_argument, nullptr, 'v'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {nullptr, 0, nullptr, 0}};

const char cCatOptions::kHelp[] =
    "Input (by default every line of standard input is one message):\n"
    "  -w, --whole          all of standard input is one message\n"
    "  -f, --file FILE      the file is one message (again for more; no standard input)\n"
    "  -x, --hex            the input is hex text (two digits a byte, white space ignored)\n"
    "Output (messages received, on standard output):\n"
    "  -o, --output FORMAT  text (a line for a person, the default), json (an object a\n"
    "                       line) or raw (the payload bytes only)\n"
    "Ending:\n"
    "  -n, --count N        end after N messages received (and the input sent)\n"
    "  -t, --timeout SECS   end after SECS without a message either way\n"
    "  -q, --quiet          no notices and no summary on standard error\n"
    "  -v, --verbose        say why each dropped unit was dropped\n"
    "  -h, --help           this help\n";

std::string cCatOptions::shortOptions(const char* own) {
  return std::string(":") + kShort + own;  // ':' first: a missing argument is told apart
}

std::vector<option> cCatOptions::longOptions(const std::vector<option>& own) {
  std::vector<option> all(own);
  for (const option* o = kLong; o->name != nullptr; ++o) all.push_back(*o);
  all.push_back({nullptr, 0, nullptr, 0});
  return all;
}

bool cCatOptions::parseNumber(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || value < min || value > max) return false;
  *out = value;
  return true;
}

bool cCatOptions::take(int letter, const char* arg, std::string* why) {
  why->clear();
  switch (letter) {
    case 'o':
      if (cMsgPrinter::parseFormat(arg, &format)) return true;
      *why = std::string("unknown output format '") + arg + "' (text, json or raw)";
      return false;
    case 'w':
      whole = true;
      return true;
    case 'x':
      hex = true;
      return true;
    case 'f':
      files.push_back(arg);
      return true;
    case 'n':
      if (parseNumber(arg, 0, 1L << 30, &count)) return true;
      *why = std::string("bad count '") + arg + "' (a whole number, 0 or more)";
      return false;
    case 't': {
      char* end = nullptr;
      timeout = strtod(arg, &end);
      if (end != arg && *end == 0 && timeout > 0 && timeout < 1e7) return true;
      *why = std::string("bad time-out '") + arg + "' (seconds, more than 0)";
      return false;
    }
    case 's': {
      long value;
      if (parseNumber(arg, segMin, segMax, &value)) {
        segSize = static_cast<int>(value);
        return true;
      }
      *why = std::string("bad segment size '") + arg + "' (" + std::to_string(segMin) + " to " +
             std::to_string(segMax) + ")";
      return false;
    }
    case 'q':
      quiet = true;
      return true;
    case 'v':
      verbose = true;
      return true;
    case 'h':
      help = true;
      return true;
    default:
      return false;
  }
}

int cCatOptions::parse(const char* command, int argc, char** argv, const std::string& shortOpts,
                       const std::vector<option>& longOpts, void (*printHelp)(), const cOwn& own) {
  int letter;
  std::string why;
  while ((letter = getopt_long(argc, argv, shortOpts.c_str(), longOpts.data(), nullptr)) != -1) {
    if (letter == ':' || letter == '?') {
      std::string name =
          optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
      if (letter == ':') return cCat::usage(command, "option '%s' needs a value", name.c_str());
      return cCat::usage(command, "unknown option '%s'", name.c_str());
    }
    if (!take(letter, optarg, &why) && why.empty()) why = own(letter, optarg);
    if (!why.empty()) return cCat::usage(command, "%s", why.c_str());
  }
  if (!help) return kContinue;
  printHelp();
  return cCat::kOk;
}
