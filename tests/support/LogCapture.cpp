#include "tests/support/LogCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

namespace testing_support {

namespace {
// Printable form of captured text: CR shown as \r.
std::string Visible(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\r')
      shown += "\\r";
    else
      shown += c;
  }
  return shown;
}
}  // namespace

LogCapture::LogCapture() {
  StartStream(out);
  StartStream(err);
  capturing = true;
}

LogCapture::~LogCapture() {
  Stop();
  if (::testing::Test::HasFailure()) {
    fprintf(stderr,
            "--- captured standard output ---\n%s\n"
            "--- captured standard error ---\n%s\n"
            "--------------------------------\n",
            Visible(out.text).c_str(), Visible(err.text).c_str());
  }
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

// Writes a marker after everything written so far (by any thread, straight
// to the descriptor) and waits until the reader has passed it, then removes
// it.
void LogCapture::Sync(Stream& stream) const {
  if (!capturing) return;
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

std::string LogCapture::All(Stream& stream) const {
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

bool LogCapture::WaitFor(Stream& stream, const std::string& line,
                         int timeoutMs, size_t times) const {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return CountLines(stream.text, line) >= times;
  });
}

std::vector<std::string> LogCapture::Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

size_t LogCapture::CountLines(const std::string& text, const std::string& line) {
  size_t count = 0;
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) return count;
    if (end - start == line.size() && text.compare(start, end - start, line) == 0)
      ++count;
    start = end + 1;
  }
}

}  // namespace testing_support
