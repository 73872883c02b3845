#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/cArgParser.h"
#include "support/cProperties.h"
#include "tests/common/cLogCapture.h"

namespace {

// A configuration file in /tmp, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/ferryd-config-XXXXXX";
    int fd = mkstemp(name);
    mPath = name;
    if (fd >= 0) close(fd);
    std::ofstream(mPath) << text;
  }
  ~TempFile() { unlink(mPath.c_str()); }
  const char* path() const { return mPath.c_str(); }

 private:
  std::string mPath;
};

int warnings(const cLogCapture& log) {
  int n = 0;
  for (const auto& r : log.records()) n += r.level == "WARN";
  return n;
}

TEST(Config, MissingFileGivesDefaultsAndSaysSo) {
  cLogCapture log;
  cProperties props;
  EXPECT_EQ(-1, props.load("/nonexistent/ferryd.conf"));
  EXPECT_STREQ("/dev/ttyS5", props.getString("ferryd.io.tty", "/dev/ttyS5"));
  EXPECT_EQ(256, props.getInt("ferryd.io.segsize", 256));
  auto lines = log.matching("/nonexistent/ferryd.conf", "cProperties");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("WARN", lines[0].level);
  EXPECT_NE(std::string::npos, lines[0].message.find("using defaults"));

  EXPECT_EQ(-1, props.load("/tmp"));  // a directory is no configuration file
  EXPECT_EQ(1, log.count("/tmp could not be opened"));
}

TEST(Config, SyntaxTrimmingCommentsAndDuplicates) {
  TempFile file(
      "# ferryd test\n"
      "\n"
      "   \t\n"
      "  ferryd.io.tty \t=   /dev/ttyUSB0  \r\n"
      "  # indented comment = not a key\n"
      "ferryd.io.segsize=100\n"
      "zam.broker.port = 1\n"
      "zam.broker.port = 70000\n"
      "ferryd.io.btname = Bramble fox = x\n"
      "empty.value =\n"
      "neg = -42\n"
      "max = 2147483647\n"
      "min = -2147483648\n"
      "plus = +7");  // last line without newline
  cLogCapture log;
  cProperties props;
  ASSERT_EQ(0, props.load(file.path()));
  EXPECT_EQ(1, log.count(std::string("Configuration read from ") + file.path(), "cProperties"));
  EXPECT_EQ(0, warnings(log));

  EXPECT_STREQ("/dev/ttyUSB0", props.getString("ferryd.io.tty", "x"));
  EXPECT_EQ(100, props.getInt("ferryd.io.segsize", 256));
  EXPECT_EQ(70000, props.getInt("zam.broker.port", 60010));
  EXPECT_STREQ("Bramble fox = x", props.getString("ferryd.io.btname", "x"));
  EXPECT_STREQ("", props.getString("empty.value", "x"));
  EXPECT_EQ(-42, props.getInt("neg", 0));
  EXPECT_EQ(2147483647, props.getInt("max", 0));
  EXPECT_EQ(-2147483647 - 1, props.getInt("min", 0));
  EXPECT_EQ(7, props.getInt("plus", 0));
  EXPECT_STREQ("+7", props.getString("plus", ""));
  EXPECT_EQ(nullptr, props.getString("# indented comment", nullptr));
  EXPECT_EQ(0, warnings(log));
}

TEST(Config, MalformedLinesAndBadIntegersAreReported) {
  TempFile file(
      "a = 1\n"
      "no equals here\n"
      " = value without key\n"
      "bad.int = 12abc\n"
      "big.int = 99999999999\n"
      "hex = 0x10\n"
      "blank.int =\n"
      "over = 2147483648\n"
      "under = -2147483649\n"
      "b = 2\n");
  cLogCapture log;
  cProperties props;
  ASSERT_EQ(0, props.load(file.path()));
  std::string path = file.path();
  EXPECT_EQ(1, log.count(path + ":2: malformed line skipped", "cProperties"));
  EXPECT_EQ(1, log.count(path + ":3: malformed line skipped", "cProperties"));
  EXPECT_EQ(2, log.count("malformed"));
  EXPECT_EQ(1, props.getInt("a", 0));
  EXPECT_EQ(2, props.getInt("b", 0));
  EXPECT_EQ(nullptr, props.getString("no equals here", nullptr));
  EXPECT_EQ(nullptr, props.getString("", nullptr));

  struct {
    const char* key;
    const char* value;
  } bad[] = {{"bad.int", "12abc"}, {"big.int", "99999999999"}, {"hex", "0x10"},
             {"blank.int", ""},    {"over", "2147483648"},     {"under", "-2147483649"}};
  for (const auto& b : bad) {
    log.clear();
    EXPECT_EQ(256, props.getInt(b.key, 256)) << b.key;
    auto lines = log.matching(std::string("Key ") + b.key + ": value \"" + b.value + "\"");
    ASSERT_EQ(1u, lines.size()) << b.key;
    EXPECT_EQ("WARN", lines[0].level);
    EXPECT_NE(std::string::npos, lines[0].message.find("using default 256"));
    EXPECT_EQ(0u, lines[0].message.find(path + ": Key ")) << lines[0].message;
  }
  EXPECT_EQ(-2147483647 - 1, props.getInt("x", -2147483647 - 1));
}

// A binary file is mostly malformed lines: the first few are reported, the rest counted once.
TEST(Config, ManyMalformedLinesAreCountedNotEachReported) {
  std::string text = "a = 1\n";
  for (int i = 0; i < 40; ++i) text += "\x01\x02 junk\n";
  TempFile file(text + "b = 2\n");
  cLogCapture log;
  cProperties props;
  ASSERT_EQ(0, props.load(file.path()));
  EXPECT_EQ(cProperties::kMalformedReported, log.count("malformed line skipped"));
  EXPECT_EQ(
      1, log.count(std::string(file.path()) + ": 35 further malformed lines skipped (40 in all)"));
  EXPECT_EQ(2, props.getInt("b", 0));
}

// A file that opens but fails to read is not "read": the load says so and reports failure.
TEST(Config, AReadErrorIsReportedNotTakenForTheEnd) {
  cLogCapture log;
  cProperties props;
  EXPECT_EQ(-1, props.load("/proc/self/mem"));  // its first page is not mapped: EIO
  EXPECT_EQ(1, log.count("Configuration file /proc/self/mem could not be read after line 0"));
  EXPECT_EQ(0, log.count("Configuration read from"));
}

TEST(ArgParser, TokensOfModuleLines) {
  // Runs of separators, leading and trailing ones yield no empty tokens; no tokens, no list.
  struct {
    std::string text;
    char sep1, sep2;
    std::vector<std::string> tokens;
  } rows[] = {{"AT-AB BondOk", ' ', ' ', {"AT-AB", "BondOk"}},
              {"BDAddress=00043e123456", ' ', '=', {"BDAddress", "00043e123456"}},
              {"  Name  =  Bramble fox  ", ' ', '=', {"Name", "Bramble", "fox"}},
              {"OK", ' ', ' ', {"OK"}},
              {"", ' ', ' ', {}},
              {" = =  ", ' ', '=', {}}};
  for (auto& r : rows) {
    std::vector<char> line(r.text.begin(), r.text.end());
    line.push_back('\0');
    char** list = cArgParser::parseList(line.data(), r.sep1, r.sep2);
    if (r.tokens.empty()) {
      EXPECT_EQ(nullptr, list) << r.text;
      continue;
    }
    ASSERT_EQ(static_cast<int>(r.tokens.size()), cArgParser::argCnt(list)) << r.text;
    for (size_t i = 0; i < r.tokens.size(); ++i) EXPECT_EQ(r.tokens[i], list[i]) << r.text;
    EXPECT_EQ(nullptr, list[r.tokens.size()]);
    EXPECT_GE(list[0], line.data());  // tokens live in the line itself
    EXPECT_LT(list[0], line.data() + line.size());
    delete[] list;
  }
}

TEST(ArgParser, NullGivesNoTokens) {
  EXPECT_EQ(nullptr, cArgParser::parseList(nullptr, ' ', ' '));
  EXPECT_EQ(0, cArgParser::argCnt(nullptr));
}

}  // namespace

// Each unknown key once, with the key most likely meant; log4cpp's own keys are known; a file
// full of them (a binary file) gets a few lines and a count.
TEST(Config, UnknownKeysAreWarnedOnceWithTheKeyMeant) {
  TempFile file(
      "ferryd.io.tyy = /dev/ttyS1\nferryd.io.tyy = /dev/ttyS2\nlog4cpp.rootCategory = INFO\n"
      "ferryd.io.tty = /dev/ttyS1\nzzz = 1\n");
  cLogCapture log;
  cProperties props;
  props.load(file.path());
  props.warnUnknownKeys();
  EXPECT_EQ(1, log.count(":2: unknown key ferryd.io.tyy ignored; did you mean ferryd.io.tty?"));
  EXPECT_EQ(1, log.count("unknown key zzz ignored"));
  EXPECT_EQ(2, warnings(log));

  std::string many;
  for (int i = 0; i < 9; ++i) many += "key" + std::to_string(i) + " = 1\n";
  TempFile manyFile(many);
  cLogCapture manyLog;
  cProperties manyProps;
  manyProps.load(manyFile.path());
  manyProps.warnUnknownKeys();
  EXPECT_EQ(cProperties::kMalformedReported + 1, warnings(manyLog));
  EXPECT_EQ(1, manyLog.count("4 further unknown keys ignored (9 in all)"));
}
