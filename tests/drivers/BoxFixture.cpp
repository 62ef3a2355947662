#include "tests/drivers/BoxFixture.h"

#include <chrono>
#include <cstdio>

#include "tests/support/Time.h"

namespace driver_test {

const char* const kProbePort = "/dev/ttyPROBE";

namespace {
// Printable form of captured client or log text: CR shown as \r.
std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}
}  // namespace

std::string Hex(const std::string& bytes) {
  std::string out;
  char cell[4];
  for (unsigned char c : bytes) {
    snprintf(cell, sizeof cell, "%02X", c);
    if (!out.empty()) out += ' ';
    out += cell;
  }
  return out.empty() ? "(nothing)" : out;
}

// ---------------------------------------------------------------- BoxFixture

void BoxFixture::SetUp() {
  ASSERT_TRUE(pty.Ok()) << "cannot open a pseudo-terminal";
  ControllerFixture::SetUp();
}

void BoxFixture::TearDown() {
  // Another process may connect to the port between our check and our bind
  // (tests of other build trees do not share the port lock); say so rather
  // than leave a puzzle.
  if (log.CountOut("Closing previous client connection") != 0)
    ADD_FAILURE() << "another client connected to port 13020 during the test "
                     "and took over the connection (a concurrent test run?)";
  ControllerFixture::TearDown();
}

::testing::AssertionResult BoxFixture::Configure(int model, int pollMs,
                                                 int number) {
  std::string line = "CONFIGURE " + std::to_string(number) + " " + Device() +
                     " " + std::to_string(model) + " " +
                     std::to_string(pollMs);
  if (!client.Command(line))
    return ::testing::AssertionFailure() << "cannot send " << line;
  if (!log.WaitForOut("Status: " + Device() + " created", 5000))
    return ::testing::AssertionFailure()
           << "no \"" << Device() << " created\" status after " << line;
  return ::testing::AssertionSuccess();
}

void BoxFixture::Rotate(int bearing, int number) {
  client.Command("ROTATE " + std::to_string(number) + " " +
                 std::to_string(bearing));
}

void BoxFixture::Stop(int number) {
  client.Command("STOP " + std::to_string(number));
}

void BoxFixture::StopController() {
  if (controller) controller->Stop();
}

::testing::AssertionResult BoxFixture::ExpectSent(const std::string& bytes,
                                                  int timeoutMs) {
  auto deadline = testing_support::Clock::now() +
                  std::chrono::milliseconds(timeoutMs);
  while (unread.size() < bytes.size()) {
    int left = testing_support::MsLeft(deadline);
    if (left <= 0) break;
    unread += pty.Read(left, bytes.size() - unread.size());
  }
  if (unread.compare(0, bytes.size(), bytes) != 0 ||
      unread.size() < bytes.size()) {
    std::string got = unread;
    unread.clear();
    return ::testing::AssertionFailure()
           << "the device received " << Hex(got) << "\n           expected "
           << Hex(bytes) << " (within " << timeoutMs << " ms)";
  }
  unread.erase(0, bytes.size());
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BoxFixture::ExpectNothingSent(int ms) {
  std::string got = SentWithin(ms);
  if (!got.empty())
    return ::testing::AssertionFailure()
           << "the device received " << Hex(got) << " where nothing was due";
  return ::testing::AssertionSuccess();
}

std::string BoxFixture::SentWithin(int ms) {
  std::string got;
  got.swap(unread);
  got += pty.Read(ms);
  return got;
}

void BoxFixture::Reply(const std::string& bytes) {
  ASSERT_TRUE(pty.Send(bytes)) << "cannot write " << Hex(bytes);
}

::testing::AssertionResult BoxFixture::ExpectDirection(const std::string& line,
                                                       int timeoutMs) {
  std::string got = client.ReadLine(timeoutMs);
  if (got != line)
    return ::testing::AssertionFailure()
           << "the client received \"" << Visible(got) << "\", expected \""
           << line << "\"";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BoxFixture::ExpectNoDirection(int ms) {
  std::string got = client.ReadAll(ms);
  if (!got.empty())
    return ::testing::AssertionFailure()
           << "the client received \"" << Visible(got)
           << "\" where nothing was due";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BoxFixture::ExpectLog(const std::string& line,
                                                 int timeoutMs) {
  if (!log.WaitForOut(line, timeoutMs))
    return ::testing::AssertionFailure()
           << "no log line \"" << Visible(line) << "\" within " << timeoutMs
           << " ms";
  return ::testing::AssertionSuccess();
}

}  // namespace driver_test
