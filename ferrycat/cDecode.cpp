#include "ferrycat/cDecode.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "ferrycat/cCapture.h"
#include "ferrycat/cCat.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cDecodeOutput.h"
#include "ferrycat/cPcapWriter.h"
#include "ferrycat/cSerialDecoder.h"
#include "ferrycat/cTraceFollow.h"
#include "support/cYlog.h"

namespace {

const char kHelp[] =
    "Usage: ferrycat decode [OPTION]... [FILE|-]\n"
    "Decodes a capture of ferryd's serial line (FILE, or standard input) with the daemon's own\n"
    "receive path: command and status lines, mode changes, frames, segments, whole messages and\n"
    "every drop with its reason, one event a line, then the counts of each direction.\n"
    "The capture is a trace written by the daemon (ferryd.io.trace; both directions, in time\n"
    "order), hex text (whitespace ignored) or raw bytes; hex and raw hold the module's bytes.\n\n"
    "  --sent     a hex or raw capture holds the daemon's bytes (frames and command lines are\n"
    "             recognised where they occur)\n"
    "  --trace, --hex, --raw   take the input as this kind instead of recognising it\n"
    "  --json     one JSON object a line\n"
    "  --pcap OUT also write the capture as pcapng to OUT, for Wireshark with ferryd.lua\n"
    "  -F, --follow  print the trace FILE as it grows (across its rotation and the daemon's\n"
    "             restart) until Ctrl-C, then the counts\n"
    "  -q         the counts only\n"
    "  -v         also the bytes that belong to no line and no frame, with their offsets\n"
    "  --log      also the daemon's log lines, on standard error\n"
    "Lines: [seconds] <|> @offset event fields; '<' module to daemon, '>' daemon to module,\n"
    "the offset is that of the byte that completed the event in its direction.\n";

constexpr int kFollowIntervalMs = 50;  // how often --follow looks at the file

std::atomic<bool> gStop{false};

void onStopSignal(int) {
  gStop = true;
}

struct cOptions {
  bool json = false, quiet = false, log = false, verbose = false, follow = false;
  const char* pcap = nullptr;
  cCapture::Kind kind = cCapture::kAuto;
  cCapture::Dir rawDir = cCapture::kFromModule;
  const char* path = nullptr;
};

void help() {
  fputs(kHelp, stdout);
}

// Long options only, numbered past every short option's letter.
enum { kJson = 256, kLog, kSent, kTrace, kHex, kRaw, kPcap };

// cCatOptions::kContinue when parsed, else an exit status (help shown, or a usage error).
int parseOptions(int argc, char** argv, cOptions* o) {
  static const std::vector<option> kLong = {
      {"json", no_argument, nullptr, kJson},       {"log", no_argument, nullptr, kLog},
      {"sent", no_argument, nullptr, kSent},       {"trace", no_argument, nullptr, kTrace},
      {"hex", no_argument, nullptr, kHex},         {"raw", no_argument, nullptr, kRaw},
      {"pcap", required_argument, nullptr, kPcap}, {"follow", no_argument, nullptr, 'F'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  cCatOptions shared;  // takes -q, -v and -h
  int status = shared.parse("decode", argc, argv, ":qhvF", kLong, help,
                            [o](int letter, const char* arg) -> std::string {
                              switch (letter) {
                                case kPcap:
                                  o->pcap = arg;
                                  break;
                                case 'F':
                                  o->follow = true;
                                  break;
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
  o->verbose = shared.verbose;
  if (optind + 1 < argc) return cCat::usage("decode", "one capture at a time");
  if (optind < argc) o->path = argv[optind];
  if (o->follow && (o->path == nullptr || strcmp(o->path, "-") == 0))
    return cCat::usage("decode", "--follow needs the trace's file name");
  if (o->follow && (o->pcap != nullptr || o->kind == cCapture::kHex || o->kind == cCapture::kRaw))
    return cCat::usage("decode", "--follow reads a trace and prints it, without --pcap");
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

// The end of a run: the counts, a word on bytes not understood (a wrong speed, port or
// direction shows at once), and the status of standard output.
int finish(const cOptions& o, cSerialDecoder& decoder, cDecodeOutput& out) {
  decoder.finish();
  decoder.printCounts();
  for (bool toModule : {false, true}) {
    uint64_t n = decoder.skipped(toModule);
    if (n > 0 && !o.quiet && !o.verbose && !out.failed())
      fprintf(stderr,
              "ferrycat: %" PRIu64 " bytes %s belong to no line and no frame (-v shows them)\n", n,
              toModule ? "from the daemon" : "from the module");
  }
  if (fflush(stdout) != 0 && !out.failed())
    return cCat::fail("standard output: %s", strerror(errno));
  if (out.failed() && out.error() != EPIPE)
    return cCat::fail("standard output: %s", strerror(out.error()));
  return cCat::kOk;
}

void feed(cSerialDecoder& decoder, cDecodeOutput& out, const cCapture::cRecord& r) {
  if (out.failed()) return;
  if (r.lost) {
    decoder.lost(r.ns, r.dir, r.lostBytes);
  } else if (r.dir == cCapture::kFromModule) {
    decoder.fromModule(r.ns, r.bytes.data(), r.bytes.size());
  } else {
    decoder.toModule(r.ns, r.bytes.data(), r.bytes.size());
  }
}

// --follow: the trace as it grows, until SIGINT or SIGTERM (or a closed output).
int follow(const cOptions& o) {
  struct sigaction sa = {};
  sa.sa_handler = onStopSignal;  // no SA_RESTART: the sleep ends at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  cDecodeOutput out(o.json, o.quiet, true);
  cSerialDecoder::cSettings settings;
  settings.verbose = o.verbose;
  cSerialDecoder decoder(out, settings);
  cTraceFollow trace(o.path);
  bool timed = false;
  std::vector<cCapture::cRecord> records;
  while (!gStop && !out.failed()) {
    records.clear();
    bool newFile;
    std::string error;
    if (!trace.next(&records, &newFile, &error)) return cCat::fail("%s: %s", o.path, error.c_str());
    if (newFile && !o.quiet) fprintf(stderr, "ferrycat: following %s\n", o.path);
    if (!records.empty() && !timed) {
      out.setTimeBase(records.front().ns);
      timed = true;
    }
    for (const cCapture::cRecord& r : records) feed(decoder, out, r);
    if (records.empty()) {
      poll(nullptr, 0, kFollowIntervalMs);
    } else {
      fflush(stdout);
    }
  }
  return finish(o, decoder, out);
}

// The file's text, or a failure status.
int readInput(const cOptions& o, const char* name, std::string* input) {
  bool stdinInput = o.path == nullptr || strcmp(o.path, "-") == 0;
  FILE* in = stdinInput ? stdin : fopen(o.path, "rb");
  if (in == nullptr) return cCat::fail("%s: %s", name, strerror(errno));
  bool readOk = readAll(in, input);
  int readErr = errno;
  if (!stdinInput) fclose(in);
  if (!readOk) return cCat::fail("%s: %s", name, strerror(readErr));
  return cCat::kOk;
}

std::string pcapComment(const cCapture& capture, const char* name) {
  std::string what = std::string("ferryd serial line, decoded by ferrycat from ") + name + ": ";
  if (capture.kind() == cCapture::kTrace)
    return what + "a daemon's trace; time stamps are the board's CLOCK_MONOTONIC (since boot)";
  return what + "a capture of one direction without time stamps (all are zero)";
}

}  // namespace

int decodeMain(int argc, char** argv) {
  cOptions o;
  int rc = parseOptions(argc, argv, &o);
  if (rc != cCatOptions::kContinue) return rc;
  signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write: decoding stops quietly
  setUpLogging(o.log);
  if (o.follow) return follow(o);
  bool stdinInput = o.path == nullptr || strcmp(o.path, "-") == 0;
  const char* name = stdinInput ? "standard input" : o.path;
  std::string input;
  rc = readInput(o, name, &input);
  if (rc != cCat::kOk) return rc;

  cCapture capture;
  std::string error;
  if (!capture.parse(input, o.kind, o.rawDir, &error)) {
    return cCat::fail("%s: %s", name, error.c_str());
  }
  bool trace = capture.kind() == cCapture::kTrace;
  cPcapWriter pcap;
  if (o.pcap != nullptr && !pcap.open(o.pcap, pcapComment(capture, name), &error))
    return cCat::fail("%s", error.c_str());
  cDecodeOutput out(o.json, o.quiet, trace);
  if (!capture.records().empty()) out.setTimeBase(capture.records().front().ns);
  cSerialDecoder::cSettings settings;
  settings.verbose = o.verbose;
  settings.sentAlone = !trace && o.rawDir == cCapture::kToModule;
  settings.pcap = o.pcap != nullptr ? &pcap : nullptr;
  cSerialDecoder decoder(out, settings);
  for (const cCapture::cRecord& r : capture.records()) feed(decoder, out, r);
  rc = finish(o, decoder, out);
  if (!pcap.close(&error)) return cCat::fail("%s", error.c_str());
  if (rc != cCat::kOk) return rc;
  if (!capture.problem().empty()) return cCat::fail("%s: %s", name, capture.problem().c_str());
  return cCat::kOk;
}
