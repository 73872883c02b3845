#include "fuzz/cFuzzLogTap.h"

#include <cstdlib>
#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include "support/cYlog.h"

namespace {

class cTapAppender : public log4cpp::AppenderSkeleton {
 public:
  explicit cTapAppender(cFuzzLogTap& tap) : AppenderSkeleton("fuzz-tap"), mTap(tap) {}
  void close() override {}
  bool requiresLayout() const override { return false; }
  void setLayout(log4cpp::Layout*) override {}

 protected:
  void _append(const log4cpp::LoggingEvent& e) override { mTap.add(e.categoryName, e.message); }

 private:
  cFuzzLogTap& mTap;
};

// The status-line log lines of the receive path, recorded as "U:<line>".
const char* const kStatusLines[] = {"BDAddress URC", "BypassMode Enabled URC",
                                    "Connection Down URC", "Command Mode URC",
                                    "Bond Ok (pairing) URC"};

bool startsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

// FERRYD_FUZZ_LOG=1 also shows every log line on stderr.
cFuzzLogTap& cFuzzLogTap::install() {
  static cFuzzLogTap* tap = nullptr;
  if (tap != nullptr) return *tap;
  tap = new cFuzzLogTap;
  log4cpp::Category& root = log4cpp::Category::getRoot();
  if (std::getenv("FERRYD_FUZZ_LOG") != nullptr)
    cYlog::init(nullptr);
  else
    root.removeAllAppenders();
  root.addAppender(new cTapAppender(*tap));
  root.setPriority(log4cpp::Priority::DEBUG);
  return *tap;
}

// Kinds: "L" a line received in command mode, "C" a line handed to the pending command, "U" a
// status line acted on, "B" bypass mode left on the escape.
void cFuzzLogTap::add(const std::string& category, const std::string& message) {
  if (category == "cBTCmd") {
    if (startsWith(message, "cmdH: ")) mEvents.push_back("C:" + message.substr(6));
    return;
  }
  if (category != "cBTModem") return;
  if (startsWith(message, "Received: ")) {
    mEvents.push_back("L:" + message.substr(10));
  } else if (message == "Probably need to bail now") {
    mEvents.push_back("B:");
  } else {
    for (const char* s : kStatusLines)
      if (message == s) mEvents.push_back("U:" + message);
  }
}

std::vector<std::string> cFuzzLogTap::take() {
  std::vector<std::string> out;
  out.swap(mEvents);
  return out;
}
