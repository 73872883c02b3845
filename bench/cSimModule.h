#pragma once

#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/cYlog.h"

class cSimPeer;

// Stand-in for the serial Bluetooth module, on the master side of a pseudo-terminal whose slave
// path the daemon opens ("ferryd.io.tty"). One thread serves the master side:
// - command mode: collects the daemon's lines, records the command lines ("AT+AB ...") and
//   answers the module's seven commands (per command: normally, late, never, after non-matching
//   lines, or with an alternative reply);
// - bypass mode: plays the Bluetooth peer (cSimPeer): unframes what the daemon sends, puts the
//   messages back together, and sends framed segments.
// Times are CLOCK_MONOTONIC seconds of this process; delays and time-outs are milliseconds of
// the same clock (under libfaketime in this process they run at the faked speed).
class cSimModule {
 public:
  struct cCommand {
    double time;
    std::string line;  // from "AT+AB" on, without CR LF
    bool inBypass;     // written into the bypass stream (recorded, not answered)
  };
  enum class cReply { Normal, Late, Never, NonMatchingFirst, Alternative, LongLine };
  static constexpr size_t kLongLine = 10000;
  static constexpr int kDefaultLateMs = 3000;

  cSimModule();  // openpty + the serving thread
  ~cSimModule();
  cSimModule(const cSimModule&) = delete;
  cSimModule& operator=(const cSimModule&) = delete;

  // For "ferryd.io.tty": a symbolic link to the slave side, which follows a reopen().
  const std::string& ttyPath() const { return mTtyPath; }

  // The air: a second pseudo-terminal that carries the Bluetooth peer's byte stream, for a peer
  // outside this process (ferrycat peer), as /dev/rfcomm0 does on a PC. While the module is in
  // bypass mode, what the daemon writes comes out on the air's tty instead of reaching the
  // scripted peer, and what is written to the air's tty reaches the daemon; in command mode the
  // air is silent and what is written to it is dropped. The daemon's writes wait while the air's
  // reader lags (at most kAirBacklog bytes are held), as a module's flow control makes them.
  // Returns the air tty's path (a symbolic link; raw mode); throws std::runtime_error when no
  // pseudo-terminal could be made. Call before the daemon is in bypass mode.
  std::string enableAir();
  static constexpr size_t kAirBacklog = 64 * 1024;

  // The module goes away: the master side is closed, so the daemon's descriptor is hung up.
  void hangUp();
  // A new pseudo-terminal behind the same ttyPath(), in command mode; false when none was made.
  bool reopen();

  std::vector<cCommand> commands() const;  // every command line received, in order
  // Waits until n command lines containing text have been received; true when they have.
  bool waitForCommand(const std::string& text, int timeoutMs, size_t n = 1) const;

  // How to answer the command whose second word is keyword ("EnableBond", "DisableBond",
  // "EraseBondTable", "DefaultLocalName", "SPPDisconnect", "UpdateInquiryScan", "config"):
  //   Normal            the completing reply after delayMs (0: at once)
  //   Late              the completing reply after delayMs (0: kDefaultLateMs)
  //   Never             nothing
  //   NonMatchingFirst  "AT-AB Busy" and "OK" at once, the completing reply after delayMs
  //   Alternative       another reply that completes the command too (see cSimModuleReplies)
  //   LongLine          one line of kLongLine characters instead (a module gone wrong)
  // The lines of one answer (the four of "config", the non-matching ones) go out 100 ms apart,
  // so the daemon's one reply slot sees each of them.
  void setReply(const std::string& keyword, cReply mode, int delayMs = 0);

  void sendLine(const std::string& line);  // line + "\r\n" (status lines, unknown ones)
  void sendRaw(const std::string& bytes);  // bytes as they are (split lines, "AT-AB" in bypass)
  // Sends the line + "\r\n" after delayMs, from the serving thread.
  void sendLineLater(const std::string& line, int delayMs);

  // Sends "AT-AB -BypassMode-\r\n" and plays the Bluetooth peer from then on. Returns once the
  // daemon has read the line (at most 1 s), so frames sent next reach its next read.
  void enterBypass();
  // Sends "AT-AB -CommandMode-\r\n" (its "AT-AB" ends the daemon's bypass mode) and returns to
  // command mode, again once the daemon has read it.
  void leaveBypass();
  bool inBypass() const { return mBypass.load(); }

  // Peer to daemon: the message cut into segments of at most segSize serialised bytes, each
  // framed and written.
  void sendMessage(int id, const std::vector<uint8_t>& payload, int segSize = 256);
  // Hands every message from the daemon to sink (on the serving thread) instead of keeping it.
  void setMessageSink(std::function<void(int id, const std::vector<uint8_t>& payload)> sink);
  std::vector<std::vector<uint8_t>> messages() const;  // reassembled from the daemon's frames
  std::vector<int> messageIds() const;                 // their 7-bit ids
  std::vector<size_t> segmentSizes() const;            // serialised size of every segment received
  bool waitForMessages(size_t n, int timeoutMs) const;
  unsigned droppedFrames() const;  // frames from the daemon that failed to decode

  termios appliedTermios() const;  // tcgetattr on the slave
  size_t bytesReceived() const;    // everything the daemon wrote, in either mode
  // Every byte the daemon wrote in bypass mode, as it arrived (kept only after recordRaw(true)).
  void recordRaw(bool on);
  std::vector<uint8_t> rawBypassBytes() const;
  void clearRawBypassBytes();
  // Stops (true) or resumes reading the master side, so the daemon's writes back up.
  void pauseReading(bool paused);
  // Returns once the daemon has read everything sent so far (or timeoutMs has passed).
  bool waitDrained(int timeoutMs) const;

  // What "AT+AB config" reports; the name follows "AT+AB DefaultLocalName".
  std::string deviceName() const;
  void setConfig(const std::string& buildVersion, const std::string& bdAddress,
                 const std::string& pin);

 private:
  struct cReplyMode {
    cReply mode;
    int delayMs;
  };
  struct cPending {
    double due;
    uint64_t seq;
    std::string bytes;
  };

  void openTerminal();  // throws std::runtime_error
  static void* serveEntry(void* self);
  void serve();
  void onBytes(const unsigned char* data, size_t n);
  void onCommandLine(double now, const std::string& line);
  void answer(double now, const std::string& line);
  std::vector<std::string> completingReply(const std::string& keyword, const std::string& args,
                                           bool alternative);
  void schedule(double due, const std::string& bytes);  // mMutex held
  void sendDue();
  int msUntilNextDue() const;
  void writeAll(const std::string& bytes);
  void wake();
  void serveAir(short revents);

  std::string mTtyPath;
  std::string mSlavePath;
  bool mServing;
  int mMaster;
  int mSlave;
  int mWakePipe[2];
  pthread_t mThread;
  std::atomic<bool> mStop;
  std::atomic<bool> mBypass;
  std::atomic<bool> mPaused;
  std::atomic<size_t> mBytesReceived;
  std::atomic<bool> mRecordRaw;
  // The air (enableAir); used by the serving thread only once set up.
  std::atomic<int> mAirMaster;
  int mAirSlave;  // kept open: the master never sees a hang-up between two peers
  std::string mAirPath;
  std::string mAirOut;  // from the daemon, not yet written to the air

  mutable pthread_mutex_t mMutex;  // everything below
  pthread_mutex_t mWriteMutex;     // keeps each write to the master whole
  cYlog mLog;
  std::unique_ptr<cSimPeer> mPeer;
  std::string mLine;
  std::vector<cCommand> mCommands;
  std::vector<uint8_t> mRaw;
  std::map<std::string, cReplyMode> mReplies;
  std::vector<cPending> mQueue;
  uint64_t mSeq;
  std::string mBuildVersion;
  std::string mBDAddress;
  std::string mDeviceName;
  std::string mPIN;
};
