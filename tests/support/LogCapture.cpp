#include "tests/support/LogCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testing_support {

LogCapture::LogCapture() { Start(out), Start(err); }

LogCapture::~LogCapture() {
  Stop(out), Stop(err);
  if (::testing::Test::HasFailure())
    fprintf(stderr, "--- captured standard output ---\n%s\n--- captured standard error ---\n%s\n",
            out.text.c_str(), err.text.c_str());
}

void LogCapture::Start(Stream& stream) {
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

void LogCapture::Stop(Stream& stream) {
  if (stream.saved < 0) return;
  fflush(stream.file);
  // Putting the original back closes the pipe's only write end: the reader
  // drains what is left and sees the end.
  dup2(stream.saved, stream.fd);
  close(stream.saved);
  stream.saved = -1;
  stream.reader.join();
  close(stream.readEnd);
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
// to the descriptor), waits until the reader has passed it and removes it,
// so that the text returned holds every line written before the call.
std::string LogCapture::Text(Stream& stream, bool fresh) const {
  std::unique_lock<std::mutex> lock(mutex);
  const std::string marker = "\x1e" "sync" + std::to_string(++syncCount) + "\x1e";
  lock.unlock();
  if (stream.saved >= 0 &&
      write(stream.fd, marker.data(), marker.size()) == static_cast<ssize_t>(marker.size())) {
    lock.lock();
    changed.wait_for(lock, std::chrono::seconds(5),
                     [&] { return stream.text.find(marker) != std::string::npos; });
    auto at = stream.text.find(marker);
    if (at != std::string::npos) stream.text.erase(at, marker.size());
  } else {
    lock.lock();
  }
  std::string text = stream.text.substr(fresh ? stream.taken : 0);
  if (fresh) stream.taken = stream.text.size();
  return text;
}

size_t LogCapture::CountOut(const std::string& line) const {
  std::vector<std::string> lines = Lines(Out());
  return std::count(lines.begin(), lines.end(), line);
}

bool LogCapture::WaitForOut(const std::string& line, int timeoutMs, size_t times) const {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    // Whole lines only: up to the last line feed.
    std::vector<std::string> lines = Lines(out.text.substr(0, out.text.rfind('\n') + 1));
    return std::count(lines.begin(), lines.end(), line) >= static_cast<long>(times);
  });
}

std::vector<std::string> LogCapture::Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace testing_support
