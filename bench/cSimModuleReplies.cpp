// How the simulated module answers its seven commands.
#include <algorithm>
#include <sstream>

#include "bench/cSimModule.h"

namespace {

struct cReplyRow {
  const char* keyword;      // second word of the command line
  const char* reply;        // the completing reply
  const char* alternative;  // another reply that completes the command as well
};

// clang-format off
const cReplyRow kReplyTable[] = {
  {"EnableBond",        "AT-AB BondEnabled",           "AT-AB EnableBondOk"},
  {"DisableBond",       "AT-AB BondDisabled",          "OK BondDisabled"},
  {"EraseBondTable",    "AT-AB BondTableErased",       "OK BondTableErased"},
  {"DefaultLocalName",  "AT-AB LocalNameOk",           "AT-AB LocalNameOkay"},
  {"SPPDisconnect",     "AT-AB SPPConnectionClosed",   "AT-AB SPPConnectionClosedByHost"},
  {"UpdateInquiryScan", "AT-AB InquiryScanUpdateDone", "AT-AB InquiryScanUpdateDo"},
  {"config",            nullptr,                       nullptr},
};
// clang-format on

const char* const kNonMatching[] = {"AT-AB Busy", "OK"};
// Lines of one answer go out this far apart, so the daemon examines each before the next.
const double kLineGap = 0.1;

}  // namespace

std::vector<std::string> cSimModule::completingReply(const std::string& keyword,
                                                     const std::string& args, bool alternative) {
  if (keyword == "config") {
    return {"AT-AB BuildVersion=" + mBuildVersion,
            std::string(alternative ? "AT-AB BD_ADDR=" : "AT-AB BD_ADDRESS=") + mBDAddress,
            "AT-AB DeviceName=" + mDeviceName, "AT-AB PIN=" + mPIN};
  }
  if (keyword == "DefaultLocalName") mDeviceName = args;
  for (const cReplyRow& row : kReplyTable) {
    if (keyword == row.keyword) return {alternative ? row.alternative : row.reply};
  }
  return {};
}

// Called on the serving thread with mMutex held. Unknown commands get no answer.
void cSimModule::answer(double now, const std::string& line) {
  std::istringstream in(line);
  std::string first, keyword;
  in >> first >> keyword;
  size_t argsAt = line.find(keyword, first.size()) + keyword.size();
  std::string args = argsAt < line.size() ? line.substr(argsAt + 1) : std::string();

  cReplyMode how{cReply::Normal, 0};
  auto it = mReplies.find(keyword);
  if (it != mReplies.end()) how = it->second;
  if (how.mode == cReply::Never) return;
  if (how.mode == cReply::LongLine) {
    schedule(now + how.delayMs / 1000.0, "AT-AB " + std::string(kLongLine - 6, 'x') + "\r\n");
    return;
  }
  std::vector<std::string> lines = completingReply(keyword, args, how.mode == cReply::Alternative);
  if (lines.empty()) return;

  double due = now;
  if (how.mode == cReply::NonMatchingFirst) {
    for (const char* l : kNonMatching) {
      schedule(due, std::string(l) + "\r\n");
      due += kLineGap;
    }
  }
  int delayMs = how.delayMs;
  if (how.mode == cReply::Late && delayMs == 0) delayMs = kDefaultLateMs;
  due = std::max(due, now + delayMs / 1000.0);
  for (const std::string& l : lines) {
    schedule(due, l + "\r\n");
    due += kLineGap;
  }
}
