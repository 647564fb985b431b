#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include "cli/run_report.h"
#include "support/json_reader.h"

namespace folivex {
namespace {

struct TextCase {
  const char* name;
  std::string in;
  std::string terminal;
  std::string json;
};

TEST(ServerText, ControlsAndBrokenBytesAreShownOrEscaped) {
  const TextCase cases[] = {
      {.name = "plain", .in = "Spring 春天", .terminal = "Spring 春天", .json = "\"Spring 春天\""},
      {.name = "an escape sequence that would hide the summary", .in = "T\x1b[2K\x1b[1A\r ok",
       .terminal = "T\\x1b[2K\\x1b[1A\\x0d ok", .json = "\"T\\u001b[2K\\u001b[1A\\r ok\""},
      {.name = "C1 control (CSI in UTF-8) and DEL", .in = "a\xc2\x9b" "31mb\x7f",
       .terminal = "a\\u009b31mb\\x7f", .json = "\"a\xc2\x9b" "31mb\\u007f\""},
      {.name = "bytes that are not UTF-8", .in = "x\xff\xc3(\xed\xa0\x80y",
       .terminal = "x\\xff\\xc3(\\xed\\xa0\\x80y", .json = "\"x\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffdy\""},
      {.name = "quotes, backslashes, tabs and newlines", .in = "\"a\\b\"\t\n",
       .terminal = "\"a\\b\"\\x09\\x0a", .json = "\"\\\"a\\\\b\\\"\\t\\n\""},
      {.name = "a sequence cut at the end", .in = "end\xe6\x98", .terminal = "end\\xe6\\x98",
       .json = "\"end\\ufffd\\ufffd\""},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(TerminalSafe(c.in), c.terminal) << c.name;
    const std::string json = JsonString(c.in);
    EXPECT_EQ(json, c.json) << c.name;
    std::string error;
    EXPECT_TRUE(ParseJson(json, &error)) << c.name << ": " << error;
  }
}

}  // namespace
}  // namespace folivex
