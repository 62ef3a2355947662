// The shared helpers: the tokeniser, the number reader and the log lines.

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/Common.h"
#include "tests/core/CoreTestSupport.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(Split, EmptyTextGivesNoTokens) {
  EXPECT_EQ(Split("", ' '), Tokens{});
}

TEST(Split, TokensBetweenSingleDelimiters) {
  EXPECT_EQ(Split("ROTATE 1 90", ' '), (Tokens{"ROTATE", "1", "90"}));
  EXPECT_EQ(Split("A,12,,3", ','), (Tokens{"A", "12", "", "3"}));
  EXPECT_EQ(Split("word", ' '), Tokens{"word"});
}

TEST(Split, LeadingDelimiterGivesEmptyFirstToken) {
  EXPECT_EQ(Split(" VERSION", ' '), (Tokens{"", "VERSION"}));
  EXPECT_EQ(Split(" ", ' '), Tokens{""});
}

TEST(Split, DoubleDelimiterGivesEmptyTokenBetween) {
  EXPECT_EQ(Split("STOP  1", ' '), (Tokens{"STOP", "", "1"}));
  EXPECT_EQ(Split("  ", ' '), (Tokens{"", ""}));
}

TEST(Split, FinalDelimiterGivesNoEmptyTokenAfterIt) {
  EXPECT_EQ(Split("STOP 1 ", ' '), (Tokens{"STOP", "1"}));
  // Only the very last delimiter is special: the one before it still ends
  // an empty token.
  EXPECT_EQ(Split("STOP 1  ", ' '), (Tokens{"STOP", "1", ""}));
}

TEST(Split, TabsLineFeedsAndNulStayInsideTokens) {
  const std::string text("a\tb\nc\0d e\r", 10);
  Tokens tokens = Split(text, ' ');
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0], std::string("a\tb\nc\0d", 7));
  EXPECT_EQ(tokens[1], "e\r");
}

TEST(ReadInt, ReadsLikeAtoi) {
  EXPECT_EQ(ReadInt("42"), 42);
  EXPECT_EQ(ReadInt("-17"), -17);
  EXPECT_EQ(ReadInt("+5"), 5);
  EXPECT_EQ(ReadInt("007"), 7);
  EXPECT_EQ(ReadInt(" \t\n\v\f\r12"), 12);
  EXPECT_EQ(ReadInt("12abc"), 12);
  EXPECT_EQ(ReadInt("3.9"), 3);
  EXPECT_EQ(ReadInt("1e3"), 1);
  EXPECT_EQ(ReadInt(std::string("12\0 34", 6)), 12);
}

TEST(ReadInt, TextWithoutLeadingNumberReadsZero) {
  EXPECT_EQ(ReadInt(""), 0);
  EXPECT_EQ(ReadInt("abc"), 0);
  EXPECT_EQ(ReadInt("-"), 0);
  EXPECT_EQ(ReadInt("+-3"), 0);
  EXPECT_EQ(ReadInt("- 3"), 0);
  EXPECT_EQ(ReadInt("x12"), 0);
  EXPECT_EQ(ReadInt(std::string("\0" "12", 3)), 0);
}

TEST(ReadInt, LimitsOfTheIntRangeAreExact) {
  EXPECT_EQ(ReadInt("2147483647"), INT_MAX);
  EXPECT_EQ(ReadInt("-2147483648"), INT_MIN);
  EXPECT_EQ(ReadInt("-2147483647"), -INT_MAX);
}

TEST(ReadInt, NumbersBeyondTheIntRangeSaturate) {
  EXPECT_EQ(ReadInt("2147483648"), INT_MAX);
  EXPECT_EQ(ReadInt("-2147483649"), INT_MIN);
  EXPECT_EQ(ReadInt("9999999999"), INT_MAX);
  EXPECT_EQ(ReadInt("-9999999999"), INT_MIN);
  EXPECT_EQ(ReadInt("99999999999999999999999999999999999999"), INT_MAX);
  EXPECT_EQ(ReadInt("-99999999999999999999999999999999999999"), INT_MIN);
  EXPECT_EQ(ReadInt("18446744073709551617"), INT_MAX);  // 2^64 + 1
  EXPECT_EQ(ReadInt(std::string(5000, '9')), INT_MAX);
}

TEST(ReadInt, ManyLeadingZerosDoNotSaturate) {
  EXPECT_EQ(ReadInt("0000000000000000000042"), 42);
  EXPECT_EQ(ReadInt("-000000000000000000001"), -1);
}

TEST(Log, EachCallWritesOneFlushedLineToItsStream) {
  core_test::LogCapture log;
  LogMessage("Status: %s", "%d %s");  // text from outside is not a format
  LogError("Cannot open %s", "/dev/x");
  LogMessage("no arguments");
  // Read without flushing: the lines are there because each call flushed.
  EXPECT_EQ(log.Out(), "Status: %d %s\nno arguments\n");
  EXPECT_EQ(log.Err(), "Cannot open /dev/x\n");
}

TEST(Log, LinesFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::string> out;
  {
    core_test::LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const std::string body(60, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) LogMessage("%d %s %d", t, body.c_str(), i);
      });
    }
    for (auto& thread : threads) thread.join();
    out = log.OutLines();
  }
  ASSERT_EQ(out.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const auto& line : out) {
    int t = line[0] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    const std::string expected = std::to_string(t) + " " +
                                 std::string(60, static_cast<char>('a' + t)) +
                                 " " + std::to_string(next[t]);
    ASSERT_EQ(line, expected);
    ++next[t];
  }
}

}  // namespace
