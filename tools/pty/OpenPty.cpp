#include "tools/pty/OpenPty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

namespace zeva {

int OpenPtyMaster(std::string& slavePath, const char** what) {
  const char* failed = "posix_openpt";
  int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    const char* name = nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
      failed = "grantpt/unlockpt";
    } else if ((name = ptsname(fd)) == nullptr) {
      failed = "ptsname";
    } else if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
               fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      failed = "fcntl";
    } else {
      slavePath = name;
      return fd;
    }
    const int saved = errno;
    close(fd);
    errno = saved;
  }
  if (what) *what = failed;
  return -1;
}

}  // namespace zeva
