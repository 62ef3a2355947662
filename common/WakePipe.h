// A self-pipe that ends another thread's poll at once, and the one helper
// that marks a descriptor close-on-exec.
//
// Why: the daemon's blocking waits (the main thread waiting for a stop
// signal, the accept thread, each serial reader) wait without a timeout, so
// an idle daemon never wakes. Whoever wants such a wait to end (a signal
// handler, Stop, Close) calls Wake(); the waiting thread polls ReadFd()
// beside its own descriptor.
//
// Ownership: a WakePipe owns both descriptors and closes them when
// destroyed. Open() may fail (out of descriptors); a caller must then treat
// its own start as failed, since nothing could ever wake its waits.
//
// Threads: Open, Drain and destruction by the owner, while no other thread
// uses the pipe; Wake and ReadFd from any thread, Wake also from a signal
// handler (it only calls write, which is async-signal-safe).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zeva {

inline void SetCloseOnExec(int fd) {
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

inline void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

class WakePipe {
 public:
  WakePipe() = default;
  ~WakePipe() {
    const int r = readFd, w = writeFd;
    readFd = writeFd = -1;  // a late Wake (a signal at exit) then does nothing
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  // Makes the pipe (once; later calls report whether it exists). Both ends
  // are non-blocking and close-on-exec. False with errno set on failure.
  bool Open() {
    if (readFd >= 0) return true;
    int fds[2];
    if (pipe(fds) != 0) return false;
    for (int fd : fds) {
      SetCloseOnExec(fd);
      SetNonBlocking(fd);
    }
    readFd = fds[0];
    writeFd = fds[1];
    return true;
  }

  int ReadFd() const { return readFd; }

  // Makes ReadFd() readable until the next Drain. A full pipe already is.
  void Wake() const {
    if (writeFd < 0) return;
    const int savedErrno = errno;
    char byte = 1;
    ssize_t ignored = write(writeFd, &byte, 1);
    (void)ignored;
    errno = savedErrno;
  }

  // Empties the pipe, so the next wait blocks until the next Wake.
  void Drain() const {
    char buffer[64];
    while (readFd >= 0 && read(readFd, buffer, sizeof buffer) > 0) {
    }
  }

 private:
  int readFd = -1;
  int writeFd = -1;
};

}  // namespace zeva
