#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/cStats.h"

// One end of the relay as cCatLoop drives it: the broker's socket or the peer's serial line.
class cCatEnd {
 public:
  // A message received; valid during the call.
  using cSink = std::function<void(const uint8_t* data, size_t length, int id)>;

  virtual ~cCatEnd() = default;

  // The daemon's counters this end fills: what it receives is counted under received(), what it
  // sends under sent(); the drop counters its receiving can move are shown in the summary.
  virtual cStats::Dir received() const = 0;
  virtual cStats::Dir sent() const = 0;
  virtual std::vector<cStats::Counter> dropCounters() const = 0;

  virtual int fd() const = 0;
  // The poll events besides POLLIN (POLLOUT while bytes wait to go out).
  virtual short events() const = 0;
  // Reads what has arrived and hands each message completed to sink. False with *why when the
  // end failed (the line hung up, the socket broke): the run ends.
  virtual bool onReadable(const cSink& sink, std::string* why) = 0;
  virtual bool onWritable(std::string* why) = 0;
  // 0 when another message can be taken now; else milliseconds until asking again, or -1 to ask
  // again after the end's next poll events.
  virtual int readyIn() = 0;
  // Takes a whole message for sending. False with *why when it cannot go (counted as a failed
  // send); nothing of it has gone out then.
  virtual bool send(int id, const std::vector<uint8_t>& message, std::string* why) = 0;
  // True when everything taken has gone out.
  virtual bool drained() const = 0;
  // Why messages still waiting cannot go, at the end of a run ("no ferryd is connected").
  virtual std::string stuck() const { return std::string(); }
};
