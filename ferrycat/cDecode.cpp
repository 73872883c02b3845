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

// 0 when parsed, else an exit status (help shown, or a usage error).
int parseOptions(int argc, char** argv, cOptions* o, bool* done) {
  static const struct {
    const char* name;
    cCapture::Kind kind;
  } kKinds[] = {
      {"--trace", cCapture::kTrace}, {"--hex", cCapture::kHex}, {"--raw", cCapture::kRaw}};
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool known = true;
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      fputs(kHelp, stdout);
      *done = true;
      return cCat::kOk;
    } else if (strcmp(a, "--json") == 0) {
      o->json = true;
    } else if (strcmp(a, "-q") == 0) {
      o->quiet = true;
    } else if (strcmp(a, "--log") == 0) {
      o->log = true;
    } else if (strcmp(a, "--sent") == 0) {
      o->rawDir = cCapture::kToModule;
    } else if (a[0] != '-' || strcmp(a, "-") == 0) {
      if (o->path != nullptr) return cCat::usage("decode", "one capture at a time");
      o->path = a;
    } else {
      known = false;
      for (const auto& k : kKinds) {
        if (strcmp(a, k.name) == 0) o->kind = k.kind, known = true;
      }
    }
    if (!known) return cCat::usage("decode", "unknown option '%s'", a);
  }
  return cCat::kOk;
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
  bool done = false;
  int rc = parseOptions(argc, argv, &o, &done);
  if (rc != cCat::kOk || done) return rc;
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
