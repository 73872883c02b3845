#pragma once

#include <istream>
#include <string>

class cBench;
class cDemoWatch;

// The board for a person to drive: one command a line, read until "q" or the end of the input.
//   p / r        press (and hold) / release the pairing button
//   b            the peer bonds ("AT-AB BondOk")
//   c / d        the peer connects ("AT-AB -BypassMode-") / leaves ("AT-AB -CommandMode-")
//   n [bytes]    the peer sends a message north (default 600 bytes)
//   s [bytes]    the broker sends a message south (default 600 bytes)
//   l            show the LEDs and the link state
//   h            help;  q  quit
class cDemoKeyboard {
 public:
  cDemoKeyboard(cBench& bench, cDemoWatch& watch);

  // True when it ended at "q"; false at the end of the input (or an interrupted read).
  bool run(std::istream& in);
  static void help();

 private:
  // Carries out one line; false at "q".
  bool dispatch(const std::string& line);
  void sendNorth(size_t bytes);
  void sendSouth(size_t bytes);
  void connect();
  void disconnect();
  void status();
  int nextId();

  cBench& mBench;
  cDemoWatch& mWatch;
  int mId = 0;
};
