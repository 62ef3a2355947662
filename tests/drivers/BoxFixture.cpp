#include "tests/drivers/BoxFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace driver_test {

const char* const kProbePort = "/dev/ttyPROBE";

namespace {
using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              Clock::now() - since)
                              .count());
}

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

int CountLines(const std::string& text, const std::string& line) {
  int count = 0;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) break;
    if (text.compare(start, end - start, line) == 0 &&
        end - start == line.size())
      ++count;
    start = end + 1;
  }
  return count;
}

// ---------------------------------------------------------------- LogCapture

void LogCapture::Start() {
  if (capturing) return;
  StartStream(out);
  StartStream(err);
  capturing = true;
}

void LogCapture::Stop() {
  if (!capturing) return;
  StopStream(out);
  StopStream(err);
  capturing = false;
}

void LogCapture::StartStream(Stream& stream) {
  fflush(stream.file);
  int fds[2];
  if (pipe(fds) != 0) return;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  stream.saved = dup(stream.fd);
  fcntl(stream.saved, F_SETFD, FD_CLOEXEC);
  dup2(fds[1], stream.fd);
  close(fds[1]);
  stream.readEnd = fds[0];
  stream.reader = std::thread(&LogCapture::ReadLoop, this, std::ref(stream));
}

void LogCapture::StopStream(Stream& stream) {
  if (stream.saved < 0) return;
  fflush(stream.file);
  // Putting the original back closes the pipe's only write end: the reader
  // drains what is left and sees the end.
  dup2(stream.saved, stream.fd);
  close(stream.saved);
  stream.saved = -1;
  if (stream.reader.joinable()) stream.reader.join();
  close(stream.readEnd);
  stream.readEnd = -1;
}

void LogCapture::ReadLoop(Stream& stream) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(stream.readEnd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(mutex);
    stream.text.append(buffer, static_cast<size_t>(n));
    changed.notify_all();
  }
}

// Writes a marker after everything this thread has written and waits until
// the reader has passed it, then removes it.
void LogCapture::Sync(Stream& stream) {
  if (!capturing) return;
  fflush(stream.file);
  std::string marker;
  {
    std::lock_guard<std::mutex> lock(mutex);
    marker = "\x1e" "sync" + std::to_string(++syncCount) + "\x1e";
  }
  if (write(stream.fd, marker.data(), marker.size()) !=
      static_cast<ssize_t>(marker.size()))
    return;
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait_for(lock, std::chrono::seconds(5), [&] {
    return stream.text.find(marker) != std::string::npos;
  });
  auto at = stream.text.find(marker);
  if (at != std::string::npos) stream.text.erase(at, marker.size());
}

std::string LogCapture::All(Stream& stream) {
  Sync(stream);
  std::lock_guard<std::mutex> lock(mutex);
  return stream.text;
}

std::string LogCapture::Fresh(Stream& stream) {
  Sync(stream);
  std::lock_guard<std::mutex> lock(mutex);
  std::string fresh = stream.text.substr(stream.taken);
  stream.taken = stream.text.size();
  return fresh;
}

bool LogCapture::WaitForStdoutLine(const std::string& line, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    const std::string& text = out.text;
    if (text.compare(0, line.size() + 1, line + "\n") == 0) return true;
    return text.find("\n" + line + "\n") != std::string::npos;
  });
}

// ------------------------------------------------------------- CapturingTest

void CapturingTest::TearDown() {
  std::string standardOut = log.Stdout();
  std::string standardErr = log.Stderr();
  log.Stop();
  if (HasFailure()) {
    fprintf(stderr, "--- captured standard output ---\n%s",
            Visible(standardOut).c_str());
    fprintf(stderr, "\n--- captured standard error ---\n%s\n",
            Visible(standardErr).c_str());
  }
}

// ---------------------------------------------------------------- BoxFixture

void BoxFixture::SetUp() {
  CapturingTest::SetUp();
  if (!testing_support::PortIsFree())
    FAIL() << "TCP port 13020 is in use by another process";
  ASSERT_TRUE(pty.Ok()) << "cannot open a pseudo-terminal";
  controller.reset(new RotatorController());
  g_controller = controller.get();
  ASSERT_TRUE(controller->Start()) << "the controller did not start";
  ASSERT_TRUE(client.Connect(13020, 5000)) << "cannot connect to port 13020";
}

void BoxFixture::TearDown() {
  // Another process may connect to the port between our check and our bind
  // (tests of other build trees do not share the port lock); say so rather
  // than leave a puzzle.
  if (log.Stdout().find("Closing previous client connection") !=
      std::string::npos)
    ADD_FAILURE() << "another client connected to port 13020 during the test "
                     "and took over the connection (a concurrent test run?)";
  if (controller) controller->Stop();
  g_controller = nullptr;
  controller.reset();
  client.Close();
  CapturingTest::TearDown();
}

::testing::AssertionResult BoxFixture::Configure(int model, int pollMs,
                                                 int number) {
  std::string line = "CONFIGURE " + std::to_string(number) + " " + Device() +
                     " " + std::to_string(model) + " " +
                     std::to_string(pollMs);
  if (!client.Command(line))
    return ::testing::AssertionFailure() << "cannot send " << line;
  if (!log.WaitForStdoutLine("Status: " + Device() + " created", 5000))
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
  auto start = Clock::now();
  while (unread.size() < bytes.size()) {
    int left = timeoutMs - ElapsedMs(start);
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
  if (!log.WaitForStdoutLine(line, timeoutMs))
    return ::testing::AssertionFailure()
           << "no log line \"" << Visible(line) << "\" within " << timeoutMs
           << " ms";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BoxFixture::ExpectLineSettings(speed_t speed) {
  struct termios settings;
  memset(&settings, 0, sizeof settings);
  if (!pty.SlaveSettings(&settings))
    return ::testing::AssertionFailure() << "cannot read the device settings";
  auto failure = ::testing::AssertionFailure();
  bool ok = true;
  if (cfgetospeed(&settings) != speed || cfgetispeed(&settings) != speed) {
    ok = false;
    failure << "speed codes out " << cfgetospeed(&settings) << " in "
            << cfgetispeed(&settings) << ", expected " << speed << "; ";
  }
  if ((settings.c_cflag & CSIZE) != CS8) {
    ok = false;
    failure << "not 8 data bits; ";
  }
  if (settings.c_cflag & CSTOPB) {
    ok = false;
    failure << "two stop bits; ";
  }
  if (settings.c_cflag & PARENB) {
    ok = false;
    failure << "parity enabled; ";
  }
  if (settings.c_lflag & (ICANON | ECHO)) {
    ok = false;
    failure << "not raw (canonical or echo); ";
  }
  return ok ? ::testing::AssertionSuccess() : failure;
}

}  // namespace driver_test
