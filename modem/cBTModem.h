#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "modem/cBTModemListener.h"
#include "support/cFrameBatch.h"
#include "support/cHDLC.h"
#include "support/cLogLimit.h"
#include "support/cYlog.h"

class cBTCmd;
class cSerialTrace;
class YMsg;

// Driver of the serial Bluetooth module: reset pulse, serial set-up, the reader thread (command
// lines, status lines, bypass-mode unframing and escape detection), framed sends and the AT
// command operations.
class cBTModem : public cYlog {
 public:
  static constexpr int kLineSize = 1024;  // a line keeps at most kLineSize - 1 characters
  // One read takes all a tty holds for its reader (the line discipline buffers 4096 bytes): a
  // burst from the module costs one system call per 4 KB, not one per 1 KB.
  static constexpr int kReadSize = 4096;
  // Room for the largest payload the peer's unframer accepts, framed.
  static constexpr int kFrameBufSize = 2 + 2 * (cHDLC::kMaxPayload + 2);

  // Pulses the reset line for one second, opens the device and starts the reader thread, which
  // runs until the process ends and reports to listener (null: to nobody). Every byte read and
  // written is recorded in trace (null: none). Both must outlive the driver.
  explicit cBTModem(const char* ttyPath, cBTModemListener* listener = nullptr,
                    cSerialTrace* trace = nullptr);
  // A driver without device, reset pulse or reader thread, for tests, fuzzing and the serial-line
  // decoder: received bytes reach it only through onSerialBytes, and writes fail as without a
  // device.
  struct cNoDevice {};
  explicit cBTModem(cNoDevice, cBTModemListener* listener = nullptr);
  cBTModem(const cBTModem&) = delete;
  cBTModem& operator=(const cBTModem&) = delete;

  void resetModule();
  int openTty(const char* path);
  void configureTty(int fd, const char* path);
  // Opens the device again after a hang-up (reader thread); true when the new one is in place.
  bool reopenTty();
  // A failed or hung-up device (reader thread): warned once, waits a second, reopens.
  void onDeviceDown(bool* warned, int err);
  // Writes all len bytes (after partial writes and EINTR); never interleaves with another write.
  int write(const char* data, int len);
  // Frames and writes one payload in bypass mode; drops it in command mode. True when the frame
  // was written whole; every drop is counted.
  bool sendFrame(const unsigned char* data, int len);
  // Cuts msg into serialised segments of at most segSize (6..1021) bytes and sends their frames,
  // gathered into few writes; calls sent(context, n) for every segment of n bytes handed over.
  // In command mode nothing is framed or written. True when every segment was written whole;
  // every drop is counted.
  bool sendSegments(YMsg* msg, int segSize, void (*sent)(void* context, int n), void* context);
  // Writes the gathered frames in one write in bypass mode (drops them in command mode), then
  // clears the batch. A command line waits at most for this one write. True when written whole.
  bool sendBatch(cFrameBatch& batch);

  // AT command operations, run on the link state thread.
  void disableDiscovery();
  void enableDiscovery();
  void enableBond();
  void disableBond();
  void eraseBondTable();
  void setName(const char* name);
  void getConfig();

  bool inBypass() const { return mBypass.load(); }

  // Handles one read's worth of bytes from the module (reader thread). Each byte is taken in the
  // mode in force when it arrives: bytes after a "-BypassMode-" line are unframed, bytes after
  // the escape ("AT-AB") build lines again, starting with the status line the escape began.
  void onSerialBytes(const unsigned char* data, int len);

  // Publishes cmd as the command waiting for its reply lines, or withdraws it (null). Once it has
  // returned, the reader no longer hands lines to a withdrawn command.
  void setPending(cBTCmd* cmd);

  // Also hands every decoded bypass-mode frame to sink (reader thread), after the link manager.
  // Once setFrameSink has returned, the previous sink is neither running nor called again.
  using cFrameSink = void (*)(void* context, const unsigned char* data, int len);
  void setFrameSink(cFrameSink sink, void* context);

 private:
  struct cURC {
    const char* keyword;
    const char* logLine;
    void (cBTModem::*action)();
  };
  static const cURC kURCs[];

  static void* readerThreadEntry(void* self);
  void readerThread();
  void receive();
  // Command mode: builds lines from data; returns how many bytes it took, fewer than len when a
  // line switched the module to bypass mode.
  int onCommandData(const unsigned char* data, int len);
  // Returns true when byte ended a line.
  bool onCommandByte(unsigned char byte);
  void onLine(char* line, int len);
  // The status keyword of a status line, null for any other line.
  static const char* statusKeyword(const char* line);
  void parseURC(char* line);
  void actOnURC(char** words);
  void onBypassURC();
  void onConnectionDownURC();
  void onBondOkURC();
  // Bypass mode: unframes data and watches for the escape; returns how many bytes it took,
  // fewer than len when the escape ended bypass mode.
  int onBypassData(const unsigned char* data, int len);
  // Advances the escape detector by one byte; true when it completes "AT-AB".
  bool escapeByte(unsigned char byte);
  void leaveBypass();
  void onFrame(const unsigned char* frame, int len);
  static void deliverFrame(void* self, const unsigned char* frame, int len);
  static void frameDropped(void* self, cHDLC::DropReason reason, int len);
  // Runs cmd as the pending command; on success logs okLine (a format, given arg) before the
  // command is withdrawn and deleted.
  void runCommand(cBTCmd* cmd, const char* okLine, const char* arg = nullptr);
  // The serial line is written by one writer at a time, in the order the writers arrived.
  void takeWriteTurn();
  void endWriteTurn();

  int32_t mTtyFd;
  cBTModemListener* mListener;  // never null; set before the reader starts
  cSerialTrace* mTrace;         // null while the line is not traced; set before the reader starts
  std::atomic<bool> mBypass;
  char mLine[kLineSize];
  int32_t mLineLen;
  bool mLineCut;        // the line in mLine was cut; the rest up to its LF is dropped
  cBTCmd* mPendingCmd;  // guarded by mPendingMutex
  int32_t mURCIdx;
  cHDLC mHDLC;
  bool mQuickEofWarned;  // both said once until data arrives again
  bool mReadErrorWarned;
  bool mReopenSaid;               // "reopened" logged since data last arrived (reader thread)
  std::string mTtyPath;           // for reopening after a hang-up
  cLogLimit mLongLines;           // reader thread
  cLogLimit mWriteErrors;         // used while holding a write turn
  pthread_mutex_t mPendingMutex;  // "deliver a line" versus "withdraw the command"
  pthread_mutex_t mWriteMutex;    // guards the turns below
  pthread_cond_t mWriteTurn;      // signalled when a write has finished
  uint64_t mWriteNext;            // ticket of the next writer to arrive
  uint64_t mWriteServing;         // ticket whose write may run: frames and lines stay whole
  pthread_mutex_t mSinkMutex;     // "deliver a frame" versus "replace the sink"
  std::atomic<bool> mHasSink;     // lets the reader skip the mutex while no sink is set
  cFrameSink mFrameSink;          // guarded by mSinkMutex, as is mFrameSinkContext
  void* mFrameSinkContext;
};
