// An emulated Yaesu GS-232 controller box on a pseudo-terminal, and the
// thread that serves a set of them.
//
// The benchmark keeps the master side of each pseudo-terminal; the daemon
// under test (or rotctld) opens the slave as its serial device. The box
// answers the azimuth queries "C" (with "AZ=nnn" CR LF) and "C2" (with
// "AZ=nnn  EL=000" CR LF), takes "Mnnn" and "Waaa eee" as set-position
// commands, stays silent on "S" and on empty lines, and answers anything
// else with "?>" CR LF. It records, on the benchmark's monotonic clock:
//  - the time just before each reply was written, by the bearing it carries;
//  - the time the first byte of each set-position command arrived.
#pragma once

#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class Box {
 public:
  Box();  // opens the master; check Ok()
  ~Box();
  Box(const Box&) = delete;
  Box& operator=(const Box&) = delete;

  bool Ok() const { return master >= 0; }
  const std::string& Path() const { return path; }
  int MasterFd() const { return master; }

  // True while the slave is in raw mode, i.e. a program has opened and
  // configured it (a fresh pseudo-terminal is canonical).
  bool IsRaw() const;
  // True when the terminal settings are again those the box started with.
  bool SettingsRestored() const;

  // A turning antenna reports the next bearing with every reply (so every
  // reply is a new bearing); a still one always reports the same.
  void SetTurning(bool turning) { turningFlag.store(turning); }
  // Makes the box also send an azimuth line unasked every periodNs from
  // firstNs on, as some boxes do while turning; used to drive the daemon's
  // read path without its polls. Set before the box is activated.
  void SpeakEvery(int64_t firstNs, int64_t periodNs) {
    nextSpeakNs = firstNs;
    speakPeriodNs = periodNs;
  }

  // Records; safe to read from any thread.
  int64_t ReplyNs(int bearing) const;  // 0 if no reply carried it yet
  // Counts the replies written from fromNs (inclusive) to toNs (exclusive).
  void CountRepliesBetween(int64_t fromNs, int64_t toNs) {
    countFrom.store(fromNs);
    countTo.store(toNs);
  }
  int RepliesBetween() const { return repliesBetween.load(); }
  int SetCommands() const { return setCommands.load(); }
  int64_t LastSetNs() const { return lastSetNs.load(); }

  // Serving thread only: reads what is waiting, answers complete lines.
  // wakeNs is when the wait for input ended. Returns false once the slave
  // side has hung up.
  bool Service(int64_t wakeNs);
  // Serving thread only: when the next unasked line is due (INT64_MAX if
  // none), and sending it once it is.
  int64_t NextDueNs() const { return nextSpeakNs; }
  void SendDue(int64_t nowNs);

 private:
  void HandleLine(int64_t firstByteNs);
  void Reply(const char* text, int bearing);

  // Constant after construction.
  int master = -1;
  std::string path;
  struct termios original;

  // Shared between threads.
  std::atomic<bool> turningFlag{false};
  std::unique_ptr<std::atomic<int64_t>[]> replyNs;  // 360 entries
  std::atomic<int64_t> countFrom{0};
  std::atomic<int64_t> countTo{0};
  std::atomic<int> repliesBetween{0};
  std::atomic<int> setCommands{0};
  std::atomic<int64_t> lastSetNs{0};

  // Set before the box is served, then the serving thread's.
  int64_t nextSpeakNs = INT64_MAX;
  int64_t speakPeriodNs = 0;

  // Serving thread only: the line being received and when its first byte
  // came, and the bearing the antenna is at.
  std::string line;
  int64_t lineStartNs = 0;
  int bearing = 0;
};

// Serves a fixed set of boxes on one thread. A box takes part once it is
// activated (after the program under test has opened its slave; before that
// the master reports a hang-up at once) and leaves by itself when the slave
// hangs up.
class BoxLoop {
 public:
  explicit BoxLoop(std::vector<Box*> boxes);
  ~BoxLoop();
  BoxLoop(const BoxLoop&) = delete;
  BoxLoop& operator=(const BoxLoop&) = delete;

  void Activate(size_t index);
  // Waits until every listed box is raw, then activates them. False if one
  // is still not raw after timeoutMs.
  bool ActivateWhenRaw(const std::vector<size_t>& indexes, int timeoutMs);
  // Waits until done() holds; rechecked after every event the thread
  // handles. False on time-out.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs);

 private:
  void Run();

  std::vector<Box*> boxes;
  std::unique_ptr<std::atomic<bool>[]> active;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::atomic<bool> quit{false};

  // Guards nothing but the event count that WaitFor sleeps on.
  std::mutex mutex;
  std::condition_variable condition;
  uint64_t events = 0;

  std::thread thread;  // last: starts after every member above exists
};

}  // namespace bench
