// The modem receive path, driven through cBTModem::onSerialBytes on a driver without device or
// reader thread, against a byte-by-byte model (cRefModem). The input is a list of steps:
//   op % 9 == 0-3: u16 n, then n bytes (n up to 1024) arrive in one read
//   op % 9 == 4:   u16 n, u8 b: n bytes b (up to 4096) arrive, in reads of 1024
//   op % 9 == 5:   u8 k: command k of the command set becomes the waiting command
//   op % 9 == 6:   the waiting command is withdrawn
//   op % 9 == 7:   the waiting command examines its latest reply line (its matcher runs)
//   op % 9 == 8:   u8 n, n bytes: a payload is framed for the peer on the same driver
// After every step the mode, the lines received, the lines handed to the command, the status
// lines acted on, the escapes and every unframed frame must be exactly the model's; a matcher
// must decide as the command set says, and the config command must store each value cut to its
// field.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/cFuzzCheck.h"
#include "fuzz/cFuzzInput.h"
#include "fuzz/cFuzzLogTap.h"
#include "fuzz/cRefModem.h"
#include "modem/cBTCmdGetConfig.h"
#include "modem/cBTCmds.h"
#include "modem/cBTModem.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Reaches the protected examination step that the link state thread runs for each reply.
struct cExaminer : cBTCmd {
  static bool examine(cBTCmd* cmd) { return (cmd->*(&cExaminer::examineReply))(); }
};

enum { kGetConfig, kSetName, kSPPDisconnect, kInquiryScan, kEnableBond, kDisableBond, kErase };
constexpr int kCommands = 7;

cBTCmd* makeCommand(int kind) {
  switch (kind) {
    case kGetConfig:
      return new cBTCmdGetConfig;
    case kSetName:
      return new cBTCmdSetName("Bramblefox");
    case kSPPDisconnect:
      return new cBTCmdSPPDisconnect;
    case kInquiryScan:
      return new cBTCmdUpdateInquiryScan(2, 18, 2048);
    case kEnableBond:
      return new cBTCmdEnableBond;
    case kDisableBond:
      return new cBTCmdDisableBond;
    default:
      return new cBTCmdEraseBondTable;
  }
}

bool prefixMatch(const std::string& word, const char* keyword, size_t n) {
  return word.size() >= n && word.compare(0, n, keyword, n) == 0;
}

// The command set's completion rules, on word 1 of the reply.
bool expectedDone(int kind, const std::string& reply) {
  if (kind == kGetConfig) return false;  // decided with the stored fields below
  std::vector<std::string> w = cRefModem::words(reply, ' ', ' ');
  if (w.size() < 2) return false;
  switch (kind) {
    case kSetName:
      return prefixMatch(w[1], "LocalNameOk", 11);
    case kSPPDisconnect:
      return prefixMatch(w[1], "SPPConnectionClosed", 19);
    case kInquiryScan:
      return prefixMatch(w[1], "InquiryScanUpdateDone", 19);
    case kEnableBond:
      return w[1] == "BondEnabled" || w[1] == "EnableBondOk";
    case kDisableBond:
      return w[1] == "BondDisabled";
    default:
      return w[1] == "BondTableErased";
  }
}

// The config command's fields as the model expects them.
struct cConfigFields {
  std::string value[4];
  static constexpr size_t kSizes[4] = {16, 13, 20, 11};
  static constexpr const char* kKeys[4] = {"BuildVersion", "BD_ADDRESS", "DeviceName", "PIN"};
  static constexpr size_t kCompared[4] = {12, 7, 10, 3};

  // Applies a reply; true when it completes the command (the PIN line).
  bool apply(const std::string& reply) {
    std::vector<std::string> w = cRefModem::words(reply, ' ', '=');
    if (w.size() < 3) return false;
    for (int i = 0; i < 4; ++i) {
      if (!prefixMatch(w[1], kKeys[i], kCompared[i])) continue;
      value[i] = w[2].substr(0, kSizes[i] - 1);
      return i == 3;
    }
    return false;
  }
  void check(const cBTCmdGetConfig& cmd) const {
    FUZZ_CHECK(value[0] == cmd.buildVersion());
    FUZZ_CHECK(value[1] == cmd.bdAddress());
    FUZZ_CHECK(value[2] == cmd.deviceName());
    FUZZ_CHECK(value[3] == cmd.pin());
  }
};

class cRig {
 public:
  cRig() : mTap(cFuzzLogTap::install()), mModem(cBTModem::cNoDevice{}) {
    mTap.take();
    mModem.setFrameSink(&cRig::onFrame, this);
  }
  ~cRig() { withdraw(); }

  void read(const Bytes& bytes) {
    // An exact-size heap copy: ASan sees any read past the end of the read.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    mModem.onSerialBytes(copy.get(), static_cast<int>(bytes.size()));
    for (unsigned char b : bytes) mModel.feed(b);
  }
  void wait(int kind) {
    withdraw();
    mKind = kind;
    mCmd = makeCommand(kind);
    mFields = cConfigFields();
    mModem.setPending(mCmd);
    mModel.setPending(true);
  }
  void withdraw() {
    if (mCmd == nullptr) return;
    mModem.setPending(nullptr);
    mModel.setPending(false);
    delete mCmd;
    mCmd = nullptr;
  }
  void examine() {
    std::string reply;
    if (mCmd == nullptr || !mModel.takeReply(reply)) return;
    bool done = cExaminer::examine(mCmd);
    if (mKind == kGetConfig) {
      FUZZ_CHECK(done == mFields.apply(reply));
      mFields.check(*static_cast<cBTCmdGetConfig*>(mCmd));
    } else {
      FUZZ_CHECK(done == expectedDone(mKind, reply));
    }
  }
  void sendFrame(const Bytes& payload) {
    mModem.sendFrame(payload.data(), static_cast<int>(payload.size()));
  }
  // The driver must have done exactly what the model did.
  void compare() {
    FUZZ_CHECK(mModem.inBypass() == mModel.bypass());
    FUZZ_CHECK(mTap.take() == mModel.takeEvents());
    FUZZ_CHECK(mFrames == mModel.takeFrames());
    mFrames.clear();
  }

 private:
  static void onFrame(void* self, const unsigned char* data, int len) {
    FUZZ_CHECK(len >= 0 && len <= cHDLC::kMaxPayload);
    static_cast<cRig*>(self)->mFrames.emplace_back(data, data + len);
  }

  cFuzzLogTap& mTap;
  cBTModem mModem;
  cRefModem mModel;
  cBTCmd* mCmd = nullptr;
  int mKind = 0;
  cConfigFields mFields;
  std::vector<Bytes> mFrames;
};

void step(cRig& rig, cFuzzInput& in) {
  switch (in.u8() % 9) {
    case 4: {
      size_t n = in.range(0, 4096);
      Bytes fill(n, in.u8());
      for (size_t at = 0; at < n; at += 1024)
        rig.read(Bytes(fill.begin() + at, fill.begin() + std::min(n, at + 1024)));
      if (n == 0) rig.read(fill);
      break;
    }
    case 5:
      rig.wait(in.u8() % kCommands);
      break;
    case 6:
      rig.withdraw();
      break;
    case 7:
      rig.examine();
      break;
    case 8:
      rig.sendFrame(in.bytes(in.u8()));
      break;
    default:
      rig.read(in.bytes(in.range(0, 1024)));
      break;
  }
  rig.compare();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cFuzzLogTap::install();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cFuzzInput in(data, size);
  cRig rig;
  for (int n = 0; n < 512 && !in.empty(); ++n) step(rig, in);
  return 0;
}
