// "ferrycat decode" (the real binary) on captures of the serial line: a trace that the real
// daemon wrote on the simulated board, a hand-made capture holding every kind of bad input, and
// inputs it must refuse by name.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

#include "bench/cBenchWire.h"
#include "tests/common/cTempDir.h"
#include "tests/ferrycat/cCatRun.h"
#include "tests/link/benchTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct cRun {
  int status;
  std::string out;
  std::string err;
};

// Runs "ferrycat decode args..." to its end; closedPipe: standard output is a pipe nobody reads.
cRun decode(const std::vector<std::string>& args, bool closedPipe = false) {
  std::vector<std::string> all = {"decode"};
  all.insert(all.end(), args.begin(), args.end());
  cCatRun run(all, "-", closedPipe);
  int status = run.wait(60000);
  return {status, run.out(), run.err()};
}

// The output lines that hold every one of parts.
std::vector<std::string> linesWith(const std::string& out, const std::vector<std::string>& parts) {
  std::vector<std::string> found;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    bool all = true;
    for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
    if (all) found.push_back(line);
  }
  return found;
}

// Every line of out is a JSON value that Python's json module takes (valid UTF-8 included).
bool allJson(const std::string& out) {
  cTempDir temp;
  std::string path = cCatRun::writeFile(temp.path + "/out.json", out);
  std::string command =
      "python3 -c 'import json,sys\nfor l in open(sys.argv[1], encoding=\"utf-8\"): "
      "json.loads(l)' " +
      path;
  return system(command.c_str()) == 0;
}

// tshark with ferryd's dissector over the pcapng that decode writes (with -v --json as well)
// from input: the same events as decode's own, in the same order. "" when they agree, else why.
std::string tsharkDiffers(const std::string& dir, const std::vector<std::string>& args) {
  std::string pcap = dir + "/capture.pcapng", json = dir + "/decode.json";
  std::vector<std::string> all = {"-v", "--json", "--pcap", pcap};
  all.insert(all.end(), args.begin(), args.end());
  cRun run = decode(all);
  if (run.status != 0) return "decode: " + run.err;
  cCatRun::writeFile(json, run.out);
  std::string report = dir + "/compare.out";
  std::string command =
      std::string("python3 " FERRYD_SOURCE_DIR
                  "/tests/ferrycat/tshark_compare.py " FERRYD_SOURCE_DIR "/wireshark/ferryd.lua ") +
      pcap + " " + json + " >" + report + " 2>&1";
  int status = system(command.c_str());
  std::string said = cTempDir::read(report);
  std::cout << said;
  return status == 0 ? "" : said;
}

bool haveTshark() {
  return system("command -v tshark >/dev/null 2>&1") == 0;
}

// Exactly one output line holds every one of parts.
bool oneLine(const std::string& out, const std::vector<std::string>& parts) {
  return linesWith(out, parts).size() == 1;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class DecodeTest : public cBenchTest {};

// Messages each way that hold "AT-AB", flag and escape bytes; the trace holds both directions,
// the daemon's set-up commands, the module's status lines and both mode changes.
TEST_F(DecodeTest, DaemonTraceShowsEveryMessageBothWaysWithCommandsAndModes) {
  cTempDir temp;
  std::string dir = temp.path, trace = dir + "/serial.trace";
  cBenchOptions o;
  o.keys = {{"ferryd.io.trace", trace}};
  cBench& b = bringUp(o);
  const Bytes tricky = cBenchWire::bytes("AT-AB ") + Bytes{0x7E, 0x7D, 0x00, 0x41, 0x7E};
  const std::vector<std::pair<int, Bytes>> south = {{10, tricky},
                                                    {11, cBenchWire::payload(700, 1) + tricky}};
  const std::vector<std::pair<int, Bytes>> north = {{20, tricky + tricky},
                                                    {21, cBenchWire::payload(900, 2)}};
  for (const auto& m : south) ASSERT_GT(b.broker().sendMessage(m.first, m.second), 0);
  ASSERT_TRUE(b.module().waitForMessages(south.size(), b.realMs(2, cBenchSteps::kMarginMs)));
  for (const auto& m : north) b.module().sendMessage(m.first, m.second, 256);
  ASSERT_TRUE(b.broker().waitForMessages(north.size(), b.realMs(2, cBenchSteps::kMarginMs)));
  ASSERT_TRUE(cBenchSteps::disconnectPeer(b));

  // The trace's thread writes soon after each read and write.
  cRun run;
  for (int tries = 0; tries < 100; ++tries) {
    run = decode({"--json", trace});
    if (!linesWith(run.out, {"\"event\":\"status\",\"text\":\"AT-AB -CommandMode-\""}).empty())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(0, run.status) << run.err;
  // The set-up's commands (a slow run may also reach the stand-by's after the discovery time).
  for (const char* command :
       {"AT+AB DisableBond", "AT+AB EraseBondTable", "AT+AB DefaultLocalName"})
    EXPECT_LE(1u,
              linesWith(run.out, {"\"dir\":\">\"", std::string("\"text\":\"") + command}).size())
        << command << "\n"
        << run.out;
  EXPECT_TRUE(
      oneLine(run.out, {"\"dir\":\"<\"", "\"event\":\"status\",\"text\":\"AT-AB -BypassMode-\""}));
  EXPECT_TRUE(oneLine(run.out, {"\"dir\":\"<\"", "\"event\":\"mode\",\"to\":\"bypass\""}));
  EXPECT_TRUE(oneLine(run.out, {"\"dir\":\"<\"", "\"to\":\"command\",\"by\":\"escape\""}));
  for (const auto& side : {std::make_pair(">", south), std::make_pair("<", north)}) {
    for (const auto& m : side.second) {
      std::string message = "\"event\":\"message\",\"id\":" + std::to_string(m.first) +
                            ",\"length\":" + std::to_string(m.second.size()) + ",\"hex\":\"" +
                            cCatRun::hex(m.second) + "\"}";
      EXPECT_TRUE(oneLine(run.out, {std::string("\"dir\":\"") + side.first + "\"", message}))
          << side.first << " " << m.first;
    }
    std::string counts = std::string("{\"event\":\"counts\",\"dir\":\"") + side.first + "\"";
    EXPECT_TRUE(oneLine(run.out, {counts, "\"messages\":2,", "\"invalid\":0,", "\"bad-fcs\":0,",
                                  "\"not-recorded\":0}"}))
        << run.out;
  }
  EXPECT_TRUE(allJson(run.out));
  // One time line for both directions.
  double last = -1;
  for (const std::string& line : linesWith(run.out, {"{\"t\":"})) {
    double t = std::atof(line.c_str() + 5);
    EXPECT_LE(last, t) << line;
    last = t;
  }
  // Wireshark with ferryd's dissector shows the same (the test below says when it cannot run).
  if (haveTshark()) {
    EXPECT_EQ("", tsharkDiffers(dir, {trace}));
  }
}

TEST_F(DecodeTest, UnusableTraceSettingsAreSaidAndTheDaemonRunsOn) {
  cBenchOptions o;
  o.keys = {{"ferryd.io.trace", "/nonexistent/ferryd/serial.trace"},
            {"ferryd.io.tracesize", "1000"}};
  cBench& b = bringUp(o);
  EXPECT_EQ(
      1, b.logCount("ferryd.io.tracesize = 1000 is below 65536 bytes, using the default 4194304"));
  EXPECT_EQ(1,
            b.logCount("ferryd.io.trace = /nonexistent/ferryd/serial.trace cannot be written (No "
                       "such file or directory err(2)): the serial line is not traced"));
  b.module().sendMessage(5, cBenchWire::payload(100, 5), 256);
  EXPECT_TRUE(b.broker().waitForMessages(1, b.realMs(2, cBenchSteps::kMarginMs)));
}

// The module's side of a session with every kind of bad input: noise, the mode change, frames
// with each drop reason, and the escape back to command mode.
struct cHandMade {
  Bytes capture;
  size_t bypassAt, oversizeEnd, escapeAt;  // the mode change's byte, a closing flag, the escape's
};

cHandMade handMadeCapture() {
  using cBenchWire::frame;
  using cBenchWire::segment;
  auto text = [](const std::string& s) { return cBenchWire::bytes(s); };
  Bytes badFcs = frame(segment(4, 0, true, text("bad")));
  badFcs[badFcs.size() - 2] ^= 0x01;  // the FCS's high byte (no escaped byte here)
  Bytes cut = frame(segment(5, 0, true, cBenchWire::payload(40, 5)));
  cut.resize(cut.size() / 2);
  Bytes aborted = frame(segment(6, 0, true, text("gone")));
  aborted.back() = 0x7D;
  aborted.push_back(0x7E);
  cHandMade h;
  h.capture = text("noise\r\nAT-AB -BypassMode-\r\n");
  h.bypassAt = h.capture.size();
  h.capture = h.capture + frame(segment(3, 0, true, text("hello"))) + text("\x01garbage") + badFcs +
              cut + frame(segment(7, 0, true, text("after the cut"))) + aborted +
              frame(Bytes(1030, 0x55));
  h.oversizeEnd = h.capture.size();
  h.capture = h.capture + frame(segment(8, 1, true, text("tail"))) + frame(text("xy")) +
              frame(segment(9, 0, false, text("one"))) + frame(segment(9, 2, true, text("three"))) +
              frame(segment(10, 0, false, text("a"))) + frame(segment(11, 0, true, text("b")));
  h.capture = h.capture + Bytes{0x7E, 0x01, 0x02};  // a frame the escape cuts
  h.escapeAt = h.capture.size() + 5;
  h.capture = h.capture + text("AT-AB ConnectionDown\r\n");
  return h;
}

// Each drop named by reason in order, the counts, and the mode changes at the bytes where they
// happen.
TEST(Decode, HandMadeCaptureNamesEveryDropAtItsByte) {
  const cHandMade h = handMadeCapture();
  const Bytes& capture = h.capture;
  const size_t bypassAt = h.bypassAt, oversizeEnd = h.oversizeEnd, escapeAt = h.escapeAt;
  cTempDir temp;
  std::string dir = temp.path, path = dir + "/capture.hex";
  cCatRun::writeFile(path, cCatRun::hex(capture) + "\n");
  cRun run = decode({"-v", path});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(oneLine(run.out, {"< @" + std::to_string(bypassAt) + " mode to=bypass"})) << run.out;
  EXPECT_EQ(
      1u,
      linesWith(run.out, {"< @" + std::to_string(escapeAt) + " mode to=command by=escape"}).size())
      << run.out;
  EXPECT_EQ(
      1u,
      linesWith(run.out, {"status text=\"AT-AB ConnectionDown\" keyword=ConnectionDown"}).size());
  std::vector<std::string> drops;
  for (const std::string& line : linesWith(run.out, {" drop reason="}))
    drops.push_back(line.substr(line.find("reason=") + 7));
  EXPECT_EQ(
      (std::vector<std::string>{"bad-fcs", "bad-fcs", "bad-fcs", "aborted-frame", "oversize-frame",
                                "lost-start", "invalid", "out-of-order", "stale"}),
      drops)
      << run.out;
  for (const char* m :
       {"message 3: 5 bytes: hello", "message 7: 13 bytes: after the cut", "message 11: 1 byte: b"})
    EXPECT_TRUE(oneLine(run.out, {m})) << m << "\n" << run.out;
  const std::string counts =
      " lines=3 frames=13 messages=3 bytes=19 invalid=1 stale=1 lost-start=1 out-of-order=1 "
      "oversize=0 bad-fcs=3 oversize-frame=1 aborted-frame=1 out-of-memory=0 skipped=8 ";
  EXPECT_TRUE(oneLine(run.out, {"counts <" + counts})) << run.out;
  // Every byte accounted for: the oversize frame's tail after the unframer gave up on it (its
  // last payload bytes and the FCS, before the closing flag), found at the next frame's end.
  EXPECT_TRUE(oneLine(
      run.out, {" skipped from=" + std::to_string(oversizeEnd - 5) + " length=5 hex=555555"}))
      << run.out;
  // The same bytes raw, as the daemon's side (--sent), which holds no mode changes: lines and
  // frames recognised where they occur, unframed as the module's side.
  cCatRun::writeFile(path, std::string(capture.begin(), capture.end()));
  run = decode({"--sent", "-q", path});
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(oneLine(run.out, {"counts >" + counts})) << run.out;
}

TEST(Decode, BadInputIsNamedAndGarbageOnlyCounted) {
  cTempDir temp;
  std::string dir = temp.path;
  // A header, one whole record of "OK\r\n" and a record cut after two of its bytes.
  std::string header("FERRYTRC\x01\x00\x10\x00\x00\x00\x00\x00", 16);
  std::string record =
      std::string("\x00\xca\x9a\x3b\x00\x00\x00\x00\x00\x00\x04\x00", 12) + "OK\r\n";
  cCatRun::writeFile(dir + "/cut.trace", header + record + record.substr(0, 14));
  cRun run = decode({dir + "/cut.trace"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("record at byte 32 cut: 2 of its 4 bytes")) << run.err;
  EXPECT_TRUE(oneLine(run.out, {"0.000000 < @4 line text=OK"})) << run.out;

  std::string version2 = header;
  version2[8] = 2;
  cCatRun::writeFile(dir + "/v2.trace", version2 + record);
  run = decode({dir + "/v2.trace"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("serial trace of version 2")) << run.err;
  EXPECT_EQ("", run.out);
  // A header whose size lies past the file cannot be whole.
  std::string longHeader = header;
  longHeader[10] = longHeader[11] = '\xff';
  cCatRun::writeFile(dir + "/long.trace", longHeader + record + record);
  run = decode({dir + "/long.trace"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("long.trace: serial trace cut inside its header: the "
                                            "header says 65535 bytes, the file holds 48"))
      << run.err;
  EXPECT_EQ("", run.out);

  // Bytes that are not text: valid JSON, and the exact bytes beside it in hex.
  cCatRun::writeFile(dir + "/bad.raw", "OK\xff\xfe\x01\r\n");
  run = decode({"--raw", "--json", dir + "/bad.raw"});
  EXPECT_TRUE(
      oneLine(run.out, {"\"text\":\"OK\\ufffd\\ufffd\\u0001\",\"text-hex\":\"4f4bfffe01\""}))
      << run.out;
  EXPECT_TRUE(allJson(run.out)) << run.out;

  // The daemon's frames taken for the module's bytes (no mode change to bypass): said.
  Bytes frame = cBenchWire::frame(cBenchWire::segment(0, 0, true, cBenchWire::bytes("hello")));
  cCatRun::writeFile(dir + "/sent.raw", std::string(frame.begin(), frame.end()));
  run = decode({dir + "/sent.raw"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("ferrycat: 14 bytes from the module belong to no line and no frame (-v shows them)\n",
            run.err);

  // Random bytes in either mode: counted, never a crash or a hang.
  std::mt19937 rng(7);
  std::string garbage = "AT-AB -BypassMode-\r\n";
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(rng() & 0xFF);
  cCatRun::writeFile(dir + "/garbage", garbage);
  run = decode({"-q", "--raw", dir + "/garbage"});
  EXPECT_EQ(0, run.status) << run.err;
  ASSERT_EQ(1u, linesWith(run.out, {"counts < "}).size()) << run.out;
  EXPECT_EQ(std::string::npos, linesWith(run.out, {"counts < "})[0].find(" bad-fcs=0 "));
  run = decode({"-v", "--json", "--raw", dir + "/garbage"});
  EXPECT_TRUE(allJson(run.out));
  // Nobody reads the events: decoding ends quietly.
  run = decode({"--raw", dir + "/garbage"}, true);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);
}

// Every drop kind, from the module's side and as the daemon's side alone, and a trace's gap.
TEST(Decode, WiresharkDissectorReportsWhatDecodeReportsDropsIncluded) {
  if (!haveTshark())
    GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it): the dissector is "
                    "not checked";
  const Bytes capture = handMadeCapture().capture;
  cTempDir temp;
  std::string path =
      cCatRun::writeFile(temp.path + "/capture.raw", std::string(capture.begin(), capture.end()));
  EXPECT_EQ("", tsharkDiffers(temp.path, {"--raw", path}));
  EXPECT_EQ("", tsharkDiffers(temp.path, {"--sent", "--raw", path}));
  // A trace's gap (a lost record) between two lines of the module.
  std::string header("FERRYTRC\x01\x00\x10\x00\x00\x00\x00\x00", 16);
  std::string ok = std::string("\x00\xca\x9a\x3b\x00\x00\x00\x00\x00\x00\x04\x00", 12) + "OK\r\n";
  std::string lost("\x00\xca\x9a\x3b\x00\x00\x00\x00\x00\x01\x04\x00\x64\x00\x00\x00", 16);
  path = cCatRun::writeFile(temp.path + "/gap.trace", header + ok + lost + ok);
  EXPECT_EQ("", tsharkDiffers(temp.path, {path}));
}

// Waits until the output of run holds a line with text; the milliseconds waited, or -1.
double waitForLine(const cCatRun& run, const std::string& text, int timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  auto waited = [&] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  while (waited() < timeoutMs) {
    if (run.out().find(text) != std::string::npos) return waited();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return -1;
}

// --follow from before the trace exists, through its rotation at the size bound and the daemon's
// restart, to Ctrl-C with the counts; the delay from the module's bytes to the printed message
// is measured at the daemon's true speed.
TEST_F(DecodeTest, FollowPrintsTheTraceAsItGrowsAcrossRotationAndRestartUntilCtrlC) {
  cTempDir temp;
  std::string trace = temp.path + "/serial.trace";
  cCatRun follow({"decode", "-F", trace});
  cBenchOptions o;
  o.keys = {{"ferryd.io.trace", trace}, {"ferryd.io.tracesize", "65536"}};
  auto up = [&] {
    cBench& b = start(o);
    EXPECT_TRUE(cBenchSteps::waitStartup(b));
    EXPECT_TRUE(cBenchSteps::waitNorth(b));
    EXPECT_TRUE(cBenchSteps::connectPeer(b));
    return &b;
  };
  cBench* b = up();
  int sent = 0;
  auto send = [&](int id, size_t length) {
    b->module().sendMessage(id, cBenchWire::payload(length, id), 256);
    ++sent;
    return waitForLine(
        follow, " message " + std::to_string(id) + ": " + std::to_string(length) + " bytes", 5000);
  };
  std::vector<double> delays;
  for (int id = 30; id < 50; ++id) {
    // At a moment unrelated to the follower's last look at the file.
    std::this_thread::sleep_for(std::chrono::milliseconds(id * 17 % 60));
    delays.push_back(send(id, 50));
    ASSERT_LE(0, delays.back()) << id << "\n" << follow.out();
  }
  std::sort(delays.begin(), delays.end());
  printf(
      "--follow: from the module's send to the printed message: min %.1f ms, median %.1f ms, "
      "max %.1f ms\n",
      delays.front(), delays[delays.size() / 2], delays.back());
  EXPECT_GT(1000, delays.back());  // a fraction of a second, also under an emulator
  // Past the size bound: the daemon renames the trace to <file>.1 and begins anew.
  for (int i = 0; i < 80; ++i) send(50 + i % 60, 900);
  EXPECT_LE(0, send(120, 10)) << follow.out();
  struct stat st;
  EXPECT_EQ(0, stat((trace + ".1").c_str(), &st));
  // The daemon starts again (the trace of its last run kept as <file>.1).
  b = up();
  EXPECT_LE(0, send(121, 10)) << follow.out();
  follow.signal(SIGINT);
  EXPECT_EQ(0, follow.wait(5000)) << follow.err();
  EXPECT_EQ(
      1u, linesWith(follow.out(), {"counts < ", " messages=" + std::to_string(sent) + " "}).size())
      << follow.out();
  EXPECT_EQ(3u, linesWith(follow.err(), {"following " + trace}).size()) << follow.err();
}

}  // namespace
