#include "PtyDevice.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/pty/OpenPty.h"

namespace {

speed_t SpeedFor(int baudRate) {
  switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B9600;
  }
}

std::string Failure(const char* what) { return std::string(what) + ": " + strerror(errno); }

}  // namespace

PtyDevice::~PtyDevice() { Close(); }

bool PtyDevice::Open(int baudRate, std::string& error) {
  Close();
  const char* failed = "";
  master = zeva::OpenPtyMaster(slavePath, &failed);
  if (master < 0) {
    error = Failure(failed);
    return false;
  }

  slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) {
    error = Failure(("open " + slavePath).c_str());
    Close();
    return false;
  }
  // Raw mode, the same as what cfmakeraw() gives, spelled out in POSIX terms.
  struct termios settings;
  if (tcgetattr(slave, &settings) != 0) {
    error = Failure("tcgetattr");
    Close();
    return false;
  }
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, SpeedFor(baudRate));
  cfsetospeed(&settings, SpeedFor(baudRate));
  if (tcsetattr(slave, TCSANOW, &settings) != 0) {
    error = Failure("tcsetattr");
    Close();
    return false;
  }
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  return true;
}

void PtyDevice::Close() {
  if (slave >= 0) close(slave);
  if (master >= 0) close(master);
  slave = master = -1;
}

void PtyDevice::DropUnread() {
  if (slave >= 0) tcflush(slave, TCIFLUSH);
}
