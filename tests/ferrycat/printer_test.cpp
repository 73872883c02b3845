// The message printer's three formats: what a person, a script and a pipe get.
#include <gtest/gtest.h>

#include <cstdio>

#include "ferrycat/cMsgPrinter.h"

namespace {

std::string printed(cMsgPrinter::Format format, const std::string& message, int id = -1,
                    const char* source = nullptr) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  cMsgPrinter printer(format, out);
  EXPECT_TRUE(
      printer.print(reinterpret_cast<const uint8_t*>(message.data()), message.size(), id, source));
  fclose(out);
  std::string result(text, size);
  free(text);
  return result;
}

TEST(FerrycatPrinter, TextIsALinePerMessageOrAHexDump) {
  EXPECT_EQ("5 bytes: hello\n", printed(cMsgPrinter::kText, "hello"));
  EXPECT_EQ("peer: 1 byte: x\n", printed(cMsgPrinter::kText, "x", 3, "peer"));
  EXPECT_EQ("0 bytes\n", printed(cMsgPrinter::kText, ""));
  EXPECT_EQ("7 bytes: gr\xc3\xbc\xc3\x9f\x65\n",
            printed(cMsgPrinter::kText, "gr\xc3\xbc\xc3\x9f\x65"));
  // Bytes that are not printable text (a line end, a flag, invalid UTF-8): the layout of
  // "hexdump -C".
  EXPECT_EQ(
      "19 bytes:\n"
      "00000000  41 54 2d 41 42 7e 7d 30  31 32 33 34 35 36 37 38  |AT-AB~}012345678|\n"
      "00000010  0a c3 28                                          |..(|\n",
      printed(cMsgPrinter::kText, "AT-AB~}012345678\n\xc3("));
}

TEST(FerrycatPrinter, JsonHoldsTheExactBytesAndRawNothingElse) {
  EXPECT_EQ("{\"seq\":1,\"id\":9,\"length\":9,\"text\":\"a\\\"b\\\\c\\td\xc3\xa9\"}\n",
            printed(cMsgPrinter::kJson, "a\"b\\c\td\xc3\xa9", 9));
  EXPECT_EQ("{\"seq\":1,\"source\":\"broker\",\"length\":3,\"hex\":\"0a7eff\"}\n",
            printed(cMsgPrinter::kJson, std::string("\n\x7e\xff"), -1, "broker"));
  EXPECT_EQ(std::string("\x00\n\x7e", 3), printed(cMsgPrinter::kRaw, std::string("\x00\n\x7e", 3)));
}

}  // namespace
