// One round of the station's event loop: the descriptors to watch are added
// with what to call when they are ready, then Wait() blocks in poll() and
// Dispatch() calls the handlers of the ready ones. The set is rebuilt for
// every round, so an object that goes away between rounds is never called.
//
// Used only by the station's one thread.
#pragma once

#include <poll.h>

#include <functional>
#include <vector>

class PollSet {
 public:
  // Called with poll()'s revents for the descriptor.
  using Handler = std::function<void(short revents)>;

  void Clear();
  void Add(int fd, short events, Handler handler);

  // Blocks until a descriptor is ready, a signal arrives or timeoutMs passes
  // (< 0: no limit). Returns the number of ready descriptors (0 on timeout or
  // interruption).
  int Wait(int timeoutMs);

  // Calls the handler of every descriptor that Wait() found ready, in the
  // order they were added.
  void Dispatch();

 private:
  std::vector<struct pollfd> fds;
  std::vector<Handler> handlers;
};
