// The shared helpers: the tokeniser, the number reader and the log lines.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "common/Common.h"
#include "tests/support/LogCapture.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(Split, EmptyTokensStayExceptAfterTheFinalDelimiter) {
  const struct {
    std::string text;
    Tokens tokens;
  } cases[] = {{"", {}},
               {"ROTATE 1 90", {"ROTATE", "1", "90"}},
               {" VERSION", {"", "VERSION"}},
               {"STOP  1", {"STOP", "", "1"}},
               {"STOP 1 ", {"STOP", "1"}},
               {"STOP 1  ", {"STOP", "1", ""}},
               {std::string("a\tb\0c\r", 6), {std::string("a\tb\0c\r", 6)}}};
  for (const auto& c : cases) EXPECT_EQ(Split(c.text, ' '), c.tokens) << c.text;
  EXPECT_EQ(Split("A,12,,3", ','), (Tokens{"A", "12", "", "3"}));
}

TEST(ReadInt, ReadsLikeAtoiAndSaturatesAtTheIntLimits) {
  const struct {
    std::string text;
    int value;
  } cases[] = {{"42", 42},   {"-17", -17}, {"+5", 5},   {" \t\n12", 12},
               {"12abc", 12}, {"3.9", 3},  {"", 0},     {"abc", 0},
               {"-", 0},     {"+-3", 0},   {"x12", 0},  {"0000000000000000042", 42},
               {"2147483647", INT_MAX},    {"-2147483648", INT_MIN},
               {"2147483648", INT_MAX},    {"-2147483649", INT_MIN},
               {"18446744073709551617", INT_MAX},
               {std::string(5000, '9'), INT_MAX}};
  for (const auto& c : cases) EXPECT_EQ(ReadInt(c.text), c.value) << c.text;
}

TEST(Log, LinesAreFlushedWholeAndNeverInterleave) {
  testing_support::LogCapture log;
  LogMessage("Status: %s", "%d %s");  // text from outside is not a format
  LogError("Cannot open %s", "/dev/x");
  // Read without flushing: the lines are there because each call flushed.
  EXPECT_EQ(log.NewOut(), "Status: %d %s\n");
  EXPECT_EQ(log.NewErr(), "Cannot open /dev/x\n");
  std::vector<std::thread> threads;
  for (char c : {'a', 'b', 'c'})
    threads.emplace_back([c] {
      for (int i = 0; i < 300; ++i) LogMessage("%s", std::string(60, c).c_str());
    });
  for (auto& thread : threads) thread.join();
  std::vector<std::string> lines = log.Lines(log.NewOut());
  ASSERT_EQ(lines.size(), 900u);
  for (const auto& line : lines) ASSERT_EQ(line, std::string(60, line[0]));
}

}  // namespace
