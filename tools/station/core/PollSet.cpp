#include "core/PollSet.h"

#include <cerrno>
#include <utility>

void PollSet::Clear() {
  fds.clear();
  handlers.clear();
}

void PollSet::Add(int fd, short events, Handler handler) {
  struct pollfd entry;
  entry.fd = fd;
  entry.events = events;
  entry.revents = 0;
  fds.push_back(entry);
  handlers.push_back(std::move(handler));
}

int PollSet::Wait(int timeoutMs) {
  int ready = poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
  if (ready < 0) {
    // EINTR: a stop signal; the loop looks at its flag. Anything else is
    // treated the same way, so that the loop never spins on an error.
    for (struct pollfd& entry : fds) entry.revents = 0;
    return 0;
  }
  return ready;
}

void PollSet::Dispatch() {
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents != 0) handlers[i](fds[i].revents);
  }
}
