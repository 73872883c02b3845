#include "ferrycat/cEncode.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ferrycat/cCat.h"
#include "ferrycat/cCatOptions.h"
#include "ferrycat/cCatWire.h"
#include "ferrycat/cMsgInput.h"
#include "link/cBTMsg.h"

namespace {

const char kCommand[] = "encode";

void help() {
  printf(
      "Usage: ferrycat encode [OPTION]...\n"
      "Write the serial-line bytes of the input's messages to standard output: each message cut\n"
      "into segments and every segment framed, byte for byte as ferryd and ferrycat peer send\n"
      "them.\n\n"
      "  -w, --whole          all of standard input is one message (default: one a line)\n"
      "  -f, --file FILE      the file is one message (again for more; no standard input)\n"
      "  -x, --hex            the input is hex text (two digits a byte, white space ignored)\n"
      "  -s, --segsize N      largest segment, %d to %d bytes (default %d)\n"
      "  -i, --id N           message id of the first message, 0 to 127 (default 0); the next\n"
      "                       ones count on\n"
      "  -h, --help           this help\n",
      cBTMsg::kMinSegSize, cBTMsg::kMaxSegSize, cBTMsg::kDefaultSegSize);
}

class cEncoder {
 public:
  cEncoder(int segSize, int id) : mSegSize(segSize), mId(id), mRefused(0), mFailed(0) {}

  // Writes each message's frames; false once standard output failed.
  bool write(std::vector<std::vector<uint8_t>>* messages, std::vector<std::string>* errors) {
    for (const std::string& e : *errors) cCat::fail("%s", e.c_str());
    mRefused += errors->size();
    errors->clear();
    std::string frames;
    for (const std::vector<uint8_t>& m : *messages) {
      cCatWire::frames(mId, m.data(), m.size(), mSegSize, &frames);
      mId = (mId + 1) & 0x7F;
      if (fwrite(frames.data(), 1, frames.size(), stdout) != frames.size()) {
        mFailed = errno;
        return false;
      }
    }
    messages->clear();
    return fflush(stdout) == 0 || (mFailed = errno, false);
  }
  int status() const {
    if (mFailed != 0) return cCat::fail("standard output: %s", strerror(mFailed));
    return mRefused > 0 ? cCat::kFailure : cCat::kOk;
  }

 private:
  int mSegSize;
  int mId;
  unsigned long mRefused;
  int mFailed;
};

int encodeFiles(const cCatOptions& options, cEncoder* encoder) {
  std::vector<std::vector<uint8_t>> messages;
  std::vector<std::string> errors;
  for (const std::string& path : options.files) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
      errors.push_back(path + ": " + strerror(errno));
      continue;
    }
    cMsgInput input(true, options.hex, path);
    uint8_t buffer[65536];
    size_t n;
    while (!input.refusedWhole() && (n = fread(buffer, 1, sizeof buffer, f)) > 0)
      input.feed(buffer, n, &messages, &errors);
    if (ferror(f)) errors.push_back(path + ": " + strerror(errno));
    fclose(f);
    input.finish(&messages, &errors);
  }
  if (!errors.empty()) messages.clear();  // nothing goes out when one of them cannot
  encoder->write(&messages, &errors);
  return encoder->status();
}

int encodeInput(const cCatOptions& options, cEncoder* encoder) {
  cMsgInput input(options.whole, options.hex, "standard input");
  std::vector<std::vector<uint8_t>> messages;
  std::vector<std::string> errors;
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) errors.push_back(std::string("standard input: ") + strerror(errno));
    if (n <= 0 || input.refusedWhole()) break;
    input.feed(buffer, static_cast<size_t>(n), &messages, &errors);
    if (!encoder->write(&messages, &errors)) return encoder->status();
  }
  input.finish(&messages, &errors);
  encoder->write(&messages, &errors);
  return encoder->status();
}

}  // namespace

int encodeMain(int argc, char** argv) {
  cCatOptions options;
  options.segSize = cBTMsg::kDefaultSegSize;
  long id = 0;
  const std::vector<option> longOptions = {{"whole", no_argument, nullptr, 'w'},
                                           {"file", required_argument, nullptr, 'f'},
                                           {"hex", no_argument, nullptr, 'x'},
                                           {"segsize", required_argument, nullptr, 's'},
                                           {"id", required_argument, nullptr, 'i'},
                                           {"help", no_argument, nullptr, 'h'},
                                           {nullptr, 0, nullptr, 0}};
  options.segMin = cBTMsg::kMinSegSize;
  options.segMax = cBTMsg::kMaxSegSize;
  int status = options.parse(kCommand, argc, argv, ":wf:xs:i:h", longOptions, help,
                             [&id](int, const char* arg) -> std::string {
                               if (cCatOptions::parseNumber(arg, 0, 127, &id)) return "";
                               return std::string("bad message id '") + arg + "' (0 to 127)";
                             });
  if (status != cCatOptions::kContinue) return status;
  if (optind < argc) return cCat::usage(kCommand, "unexpected argument '%s'", argv[optind]);
  cCat::setUp(false);
  cEncoder encoder(options.segSize, static_cast<int>(id));
  if (!options.files.empty()) return encodeFiles(options, &encoder);
  return encodeInput(options, &encoder);
}
