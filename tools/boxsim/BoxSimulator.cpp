#include "BoxSimulator.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "Antenna.h"
#include "BoxLog.h"
#include "BoxModel.h"
#include "PtyDevice.h"

volatile sig_atomic_t BoxSimulator::stopRequested = 0;
volatile sig_atomic_t BoxSimulator::replugRequested = 0;
volatile sig_atomic_t BoxSimulator::powerSwitchRequested = 0;

BoxSimulator::BoxSimulator(const BoxOptions& options, int baudRate, PtyDevice& pty,
                           BoxModel& model, Antenna& antenna)
    : options(options),
      baudRate(baudRate),
      pty(pty),
      model(model),
      antenna(antenna),
      random(options.seed) {}

bool BoxSimulator::PublishLink(const std::string& link, const std::string& target,
                               std::string& error) {
  // A new link beside the old one, renamed over it: readers never find the
  // name missing or half made.
  std::string temporary = link + ".new";
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link.c_str()) != 0) {
    error = link + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void BoxSimulator::Replug() {
  replugRequested = 0;
  if (pty.MasterFd() >= 0) {
    BoxLog::Always("unplugged: closing " + pty.SlavePath());
    if (!options.linkPath.empty()) unlink(options.linkPath.c_str());
    pty.Close();
    pending.clear();
    return;
  }
  std::string error;
  if (!pty.Open(baudRate, error)) {
    BoxLog::Always("cannot plug back in: " + error);
    return;
  }
  if (!options.linkPath.empty() && !PublishLink(options.linkPath, pty.SlavePath(), error)) {
    BoxLog::Always("cannot make the link: " + error);
  }
  BoxLog::Always("plugged in: " + pty.SlavePath());
}

void BoxSimulator::SwitchPower() {
  powerSwitchRequested = 0;
  poweredOff = !poweredOff;
  if (poweredOff) {
    // The motor stops with its controller; what was on its way is lost.
    antenna.Stop();
    pending.clear();
    BoxLog::Always("switched off at azimuth " + std::to_string(antenna.Azimuth()) +
                   " (the line stays)");
  } else {
    BoxLog::Always("switched on at azimuth " + std::to_string(antenna.Azimuth()));
  }
}

double BoxSimulator::Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int BoxSimulator::Run() {
  const double started = Now();
  double lastTick = started;
  while (!stopRequested) {
    double now = Now();
    if (options.vanishAfter >= 0 && now - started >= options.vanishAfter) {
      BoxLog::Always("vanishing: closing " + pty.SlavePath());
      if (!options.linkPath.empty()) unlink(options.linkPath.c_str());
      pty.Close();
      return 0;
    }
    if (replugRequested) Replug();
    if (powerSwitchRequested) SwitchPower();

    int timeout = kTickMs;
    short events = POLLIN;
    if (!pending.empty()) {
      if (options.slowMs > 0) {
        int untilNext = static_cast<int>((nextByteAt - now) * 1000.0) + 1;
        if (untilNext < timeout) timeout = untilNext < 0 ? 0 : untilNext;
      } else {
        events |= POLLOUT;
      }
    }
    struct pollfd fd;
    fd.fd = pty.MasterFd();
    fd.events = events;
    fd.revents = 0;
    int ready = poll(&fd, 1, timeout);
    if (ready < 0 && errno != EINTR) {
      BoxLog::Always(std::string("poll failed: ") + strerror(errno));
      return 2;
    }
    if (ready > 0) {
      if (fd.revents & POLLIN) {
        ReadInput();
      } else if (fd.revents & (POLLHUP | POLLERR)) {
        // Nobody on the other side and nothing to read: do not spin.
        usleep(kTickMs * 1000);
      }
    }

    now = Now();
    antenna.Advance(now - lastTick);
    lastTick = now;
    std::vector<std::string> replies;
    if (!poweredOff) model.Tick(now, replies);
    Queue(replies);
    WriteOutput(now);
  }
  BoxLog::Trace("stop signal: exiting");
  if (!options.linkPath.empty() && pty.MasterFd() >= 0) unlink(options.linkPath.c_str());
  return 0;
}

void BoxSimulator::ReadInput() {
  char buffer[256];
  ssize_t count = read(pty.MasterFd(), buffer, sizeof buffer);
  if (count <= 0) {
    // EAGAIN, or EIO while no one has the line open: nothing to do.
    return;
  }
  BoxLog::Trace(std::string(poweredOff ? "switched off, ignored" : "rx") + " \"" +
                BoxLog::Escape(std::string(buffer, static_cast<size_t>(count))) + "\"");
  if (poweredOff) return;
  for (ssize_t i = 0; i < count; ++i) {
    std::vector<std::string> replies;
    model.Receive(buffer[i], replies);
    if (model.TakeFreshStart()) {
      // The daemon has just (re)opened the line: what an earlier user left
      // unread would only confuse it.
      pty.DropUnread();
      pending.clear();
    }
    Queue(replies);
  }
}

void BoxSimulator::Queue(const std::vector<std::string>& replies) {
  for (const std::string& reply : replies) {
    if (options.silent) {
      BoxLog::Trace("silent, not sent: \"" + BoxLog::Escape(reply) + "\"");
      continue;
    }
    if (options.garbage > 0) {
      std::string garbage;
      std::uniform_int_distribution<int> byte(0, 255);
      for (int i = 0; i < options.garbage; ++i) garbage += static_cast<char>(byte(random));
      BoxLog::Trace("tx garbage \"" + BoxLog::Escape(garbage) + "\"");
      pending += garbage;
    }
    BoxLog::Trace("tx \"" + BoxLog::Escape(reply) + "\"");
    pending += reply;
  }
  if (pending.size() > kMaxPending) {
    BoxLog::Trace("nobody reads the line: dropped " + std::to_string(pending.size()) + " bytes");
    pending.clear();
  }
}

void BoxSimulator::WriteOutput(double now) {
  if (pty.MasterFd() < 0) {  // unplugged: the replies go nowhere
    pending.clear();
    return;
  }
  while (!pending.empty()) {
    if (options.slowMs > 0 && now < nextByteAt) return;
    bool oneByte = options.slowMs > 0 || options.split;
    ssize_t written = write(pty.MasterFd(), pending.data(), oneByte ? 1 : pending.size());
    if (written <= 0) return;  // full (EAGAIN) or gone; try again next tick
    pending.erase(0, static_cast<size_t>(written));
    if (options.slowMs > 0) {
      nextByteAt = now + options.slowMs / 1000.0;
      return;
    }
  }
}
