#include "ferrycat/cDecode.h"

#include <errno.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "ferrycat/cCapture.h"
#include "ferrycat/cCat.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cDecodeOutput.h"
#include "ferrycat/cSerialDecoder.h"
#include "support/cYlog.h"

namespace {

const char kHelp[] =
    "Usage: ferrycat decode [OPTION]... [FILE|-]\n"
    "Decodes a capture of ferryd's serial line (FILE, or standard input) with the daemon's own\n"
    "receive path: command and status lines, mode changes, frames, segments, whole messages and\n"
    "every drop with its reason, one event a line, then the counts of each direction.\n"
    "The capture is a trace written by the daemon (ferryd.io.trace; both directions, in time\n"
    "order), hex text (whitespace ignored) or raw bytes; hex and raw hold the module's bytes.\n\n"
    "  --sent     a hex or raw capture holds the daemon's bytes (read in command mode)\n"
    "  --trace, --hex, --raw   take the input as this kind instead of recognising it\n"
    "  --json     one JSON object a line\n"
    "  -q         the counts only\n"
    "  --log      also the daemon's log lines, on standard error\n"
    "Lines: [seconds] <|> @offset event fields; '<' module to daemon, '>' daemon to module,\n"
    "the offset is that of the byte that completed the event in its direction.\n";

struct cOptions {
  bool json = false, quiet = false, log = false;
  cCapture::Kind kind = cCapture::kAuto;
  cCapture::Dir rawDir = cCapture::kFromModule;
  const char* path = nullptr;
};

void help() {
  fputs(kHelp, stdout);
}

// Long options only, numbered past every short option's letter.
enum { kJson = 256, kLog, kSent, kTrace, kHex, kRaw };

// cCatOptions::kContinue when parsed, else an exit status (help shown, or a usage error).
int parseOptions(int argc, char** argv, cOptions* o) {
  static const std::vector<option> kLong = {
      {"json", no_argument, nullptr, kJson}, {"log", no_argument, nullptr, kLog},
      {"sent", no_argument, nullptr, kSent}, {"trace", no_argument, nullptr, kTrace},
      {"hex", no_argument, nullptr, kHex},   {"raw", no_argument, nullptr, kRaw},
      {"help", no_argument, nullptr, 'h'},   {nullptr, 0, nullptr, 0}};
  cCatOptions shared;  // takes -q and -h
  int status = shared.parse("decode", argc, argv, ":qh", kLong, help,
                            [o](int letter, const char*) -> std::string {
                              switch (letter) {
                                case kJson:
                                  o->json = true;
                                  break;
                                case kLog:
                                  o->log = true;
                                  break;
                                case kSent:
                                  o->rawDir = cCapture::kToModule;
                                  break;
                                case kTrace:
                                  o->kind = cCapture::kTrace;
                                  break;
                                case kHex:
                                  o->kind = cCapture::kHex;
                                  break;
                                default:
                                  o->kind = cCapture::kRaw;
                              }
                              return "";
                            });
  if (status != cCatOptions::kContinue) return status;
  o->quiet = shared.quiet;
  if (optind + 1 < argc) return cCat::usage("decode", "one capture at a time");
  if (optind < argc) o->path = argv[optind];
  return cCatOptions::kContinue;
}

bool readAll(FILE* in, std::string* text) {
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
  return !ferror(in);
}

// The daemon's code logs as it decodes; that goes nowhere unless asked for.
void setUpLogging(bool log) {
  if (log) {
    cYlog::init(nullptr);
    return;
  }
  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.removeAllAppenders();
  root.setPriority(log4cpp::Priority::EMERG);
}

}  // namespace

int decodeMain(int argc, char** argv) {
  cOptions o;
  int rc = parseOptions(argc, argv, &o);
  if (rc != cCatOptions::kContinue) return rc;
  bool stdinInput = o.path == nullptr || strcmp(o.path, "-") == 0;
  const char* name = stdinInput ? "standard input" : o.path;
  FILE* in = stdinInput ? stdin : fopen(o.path, "rb");
  if (in == nullptr) return cCat::fail("%s: %s", name, strerror(errno));
  std::string input;
  bool readOk = readAll(in, &input);
  int readErr = errno;
  if (!stdinInput) fclose(in);
  if (!readOk) return cCat::fail("%s: %s", name, strerror(readErr));

  cCapture capture;
  std::string error;
  if (!capture.parse(input, o.kind, o.rawDir, &error)) {
    return cCat::fail("%s: %s", name, error.c_str());
  }
  signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write: decoding stops quietly
  setUpLogging(o.log);
  cDecodeOutput out(o.json, o.quiet, capture.kind() == cCapture::kTrace);
  if (!capture.records().empty()) out.setTimeBase(capture.records().front().ns);
  cSerialDecoder decoder(out);
  for (const cCapture::cRecord& r : capture.records()) {
    if (out.failed()) break;
    if (r.lost) {
      decoder.lost(r.ns, r.dir, r.lostBytes);
    } else if (r.dir == cCapture::kFromModule) {
      decoder.fromModule(r.ns, r.bytes.data(), r.bytes.size());
    } else {
      decoder.toModule(r.ns, r.bytes.data(), r.bytes.size());
    }
  }
  decoder.printCounts();
  if (fflush(stdout) != 0 && !out.failed())
    return cCat::fail("standard output: %s", strerror(errno));
  if (out.failed()) {
    if (out.error() == EPIPE) return cCat::kOk;
    return cCat::fail("standard output: %s", strerror(out.error()));
  }
  if (!capture.problem().empty()) return cCat::fail("%s: %s", name, capture.problem().c_str());
  return cCat::kOk;
}
