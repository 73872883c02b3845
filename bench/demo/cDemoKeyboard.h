#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

class cBench;
class cDemoWatch;

// The board for a person to drive: one command a line, read until "q" or the end of the input.
//   p / r        press (and hold) / release the pairing button
//   b            the peer bonds ("AT-AB BondOk")
//   c / d        the peer connects ("AT-AB -BypassMode-") / leaves ("AT-AB -CommandMode-")
//   n [bytes | text]  the peer sends a message north: 600 bytes of test content, that many
//                     bytes, or the text given ("n hello there")
//   s [bytes | text]  the broker sends a message south, the same way
//   l            show the LEDs and the link state
//   h            help;  q  quit
class cDemoKeyboard {
 public:
  cDemoKeyboard(cBench& bench, cDemoWatch& watch);

  // True when it ended at "q"; false at the end of the input (or an interrupted read).
  bool run(std::istream& in);
  static void help();

  // The message "n" or "s" asks for: arg is the line after the command. Nothing gives 600 bytes
  // of test content, one whole number that many bytes, anything else is the text itself (blanks
  // around it dropped). False, with a one-line *problem, for a byte count out of range.
  struct cMessageArg {
    bool isText = false;
    size_t bytes = 0;
    std::string text;
  };
  static bool parseMessageArg(const std::string& arg, cMessageArg* out, std::string* problem);

 private:
  // Carries out one line; false at "q".
  bool dispatch(const std::string& line);
  void sendMessage(bool north, const std::string& arg);
  void sendNorth(int id, const std::vector<uint8_t>& payload, const std::string& what);
  void sendSouth(int id, const std::vector<uint8_t>& payload, const std::string& what);
  void connect();
  void disconnect();
  void status();
  int nextId();

  cBench& mBench;
  cDemoWatch& mWatch;
  int mId = 0;
};
