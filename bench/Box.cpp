#include "bench/Box.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/Clock.h"
#include "tools/pty/OpenPty.h"

namespace bench {

Box::Box() : replyNs(new std::atomic<int64_t>[360]) {
  for (int i = 0; i < 360; ++i) replyNs[i].store(0);
  memset(&original, 0, sizeof original);
  int fd = zeva::OpenPtyMaster(path);
  if (fd < 0) return;
  if (tcgetattr(fd, &original) != 0) {
    close(fd);
    return;
  }
  master = fd;
}

Box::~Box() {
  if (master >= 0) close(master);
}

bool Box::IsRaw() const {
  struct termios now;
  return master >= 0 && tcgetattr(master, &now) == 0 &&
         (now.c_lflag & ICANON) == 0;
}

bool Box::SettingsRestored() const {
  struct termios now;
  if (master < 0 || tcgetattr(master, &now) != 0) return false;
  return now.c_iflag == original.c_iflag && now.c_oflag == original.c_oflag &&
         now.c_cflag == original.c_cflag && now.c_lflag == original.c_lflag &&
         cfgetispeed(&now) == cfgetispeed(&original) &&
         cfgetospeed(&now) == cfgetospeed(&original);
}

int64_t Box::ReplyNs(int value) const {
  if (value < 0 || value >= 360) return 0;
  return replyNs[value].load();
}

bool Box::Service(int64_t wakeNs) {
  char buffer[512];
  for (;;) {
    ssize_t count = read(master, buffer, sizeof buffer);
    if (count > 0) {
      for (ssize_t i = 0; i < count; ++i) {
        const char c = buffer[i];
        if (c == '\n') continue;
        if (c == '\r') {
          HandleLine(lineStartNs);
          line.clear();
          continue;
        }
        if (line.empty()) lineStartNs = wakeNs;
        line.push_back(c);
      }
      continue;
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    // EIO: no process has the slave open any more.
    line.clear();
    return false;
  }
}

void Box::HandleLine(int64_t firstByteNs) {
  if (line.empty() || line == "S") return;
  if (line[0] == 'M' || line[0] == 'W') {
    lastSetNs.store(firstByteNs);
    setCommands.fetch_add(1);
    return;
  }
  if (line == "C" || line == "C2") {
    if (turningFlag.load()) bearing = (bearing + 1) % 360;
    char text[32];
    if (line == "C")
      snprintf(text, sizeof text, "AZ=%03d\r\n", bearing);
    else
      snprintf(text, sizeof text, "AZ=%03d  EL=000\r\n", bearing);
    Reply(text, bearing);
    return;
  }
  Reply("?>\r\n", -1);
}

void Box::SendDue(int64_t nowNs) {
  if (nowNs < nextSpeakNs) return;
  if (turningFlag.load()) bearing = (bearing + 1) % 360;
  char text[32];
  snprintf(text, sizeof text, "AZ=%03d\r\n", bearing);
  Reply(text, bearing);
  nextSpeakNs += speakPeriodNs;
}

void Box::Reply(const char* text, int value) {
  // The time is taken just before the write, so a reply can never reach the
  // client before its time is on record (a time after the write could lose
  // that race on a second core); it overstates the latency by one write().
  const int64_t now = NowNs();
  if (value >= 0) replyNs[value].store(now);
  if (now >= countFrom.load() && now < countTo.load())
    repliesBetween.fetch_add(1);
  size_t length = strlen(text);
  ssize_t written = write(master, text, length);
  (void)written;
}

BoxLoop::BoxLoop(std::vector<Box*> served)
    : boxes(std::move(served)), active(new std::atomic<bool>[boxes.size()]) {
  for (size_t i = 0; i < boxes.size(); ++i) active[i].store(false);
  int fds[2];
  if (pipe(fds) == 0) {
    wakeRead = fds[0];
    wakeWrite = fds[1];
    for (int fd : fds) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  thread = std::thread(&BoxLoop::Run, this);
}

BoxLoop::~BoxLoop() {
  quit.store(true);
  char byte = 1;
  ssize_t ignored = write(wakeWrite, &byte, 1);
  (void)ignored;
  if (thread.joinable()) thread.join();
  close(wakeRead);
  close(wakeWrite);
}

void BoxLoop::Activate(size_t index) {
  if (index >= boxes.size()) return;
  active[index].store(true);
  char byte = 1;
  ssize_t ignored = write(wakeWrite, &byte, 1);
  (void)ignored;
}

bool BoxLoop::ActivateWhenRaw(const std::vector<size_t>& indexes,
                              int timeoutMs) {
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
  for (size_t index : indexes) {
    while (!boxes[index]->IsRaw()) {
      if (NowNs() > deadline) return false;
      SleepMs(0.2);
    }
    Activate(index);
  }
  return true;
}

bool BoxLoop::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(mutex);
  while (!done()) {
    if (condition.wait_until(lock, deadline) == std::cv_status::timeout)
      return done();
  }
  return true;
}

void BoxLoop::Run() {
  std::vector<struct pollfd> fds;
  std::vector<size_t> which;
  while (!quit.load()) {
    fds.clear();
    which.clear();
    fds.push_back({wakeRead, POLLIN, 0});
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (!active[i].load()) continue;
      fds.push_back({boxes[i]->MasterFd(), POLLIN, 0});
      which.push_back(i);
    }
    // Up to half a second, or until the next unasked line is due.
    int64_t due = NowNs() + 500 * int64_t{1000000};
    for (size_t i : which) due = std::min(due, boxes[i]->NextDueNs());
    const int64_t wait = std::max<int64_t>(due - NowNs(), 0);
    struct timespec timeout;
    timeout.tv_sec = static_cast<time_t>(wait / 1000000000);
    timeout.tv_nsec = static_cast<long>(wait % 1000000000);
    int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    const int64_t wake = NowNs();
    for (size_t i : which) boxes[i]->SendDue(wake);
    if (ready <= 0) continue;
    if (fds[0].revents != 0) {
      char drain[64];
      while (read(wakeRead, drain, sizeof drain) > 0) {
      }
    }
    for (size_t k = 1; k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      if (!boxes[which[k - 1]]->Service(wake)) active[which[k - 1]].store(false);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++events;
    }
    condition.notify_all();
  }
}

}  // namespace bench
