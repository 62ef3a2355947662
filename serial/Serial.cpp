#include "serial/Serial.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Common.h"

namespace {

// Maps a numeric rate to the platform's speed value. On FreeBSD the B
// constants are the rates themselves; on Linux they are codes. Anything not
// in the list gives 9600.
speed_t SpeedFor(int baudRate) {
  switch (baudRate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B9600;
  }
}

// A device that takes no more bytes (a pseudo-terminal nobody reads, a
// stuck adapter) must not hold a writer, and so a stop, for ever: a write
// that cannot go on for this long fails. A real line at 1200 baud drains a
// command frame in about 0.1 s.
constexpr int kWriteTimeoutMs = 1000;

// Waits until the device takes bytes again. False at the deadline (errno
// EAGAIN) or as soon as the link is being closed (errno 0).
bool WaitWritable(int fd, int wakeFd,
                  std::chrono::steady_clock::time_point deadline,
                  const std::atomic<bool>& running) {
  for (;;) {
    if (!running.load(std::memory_order_acquire)) {
      errno = 0;
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      errno = EAGAIN;
      return false;
    }
    struct pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(p, 2, static_cast<int>(left));
    if (ready > 0 && p[0].revents != 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    // Otherwise woken by Close (seen as !running on the next pass), a
    // signal, or the deadline.
  }
}

}  // namespace

Serial::~Serial() { Close(); }

void Serial::LogError(const std::string& message, int error) const {
  ::LogError("%s %s: %s", message.c_str(), port.c_str(), strerror(error));
}

void Serial::EmitError(const std::string& message, int error) {
  LogError(message, error);
  if (callback) {
    SerialEvent event;
    event.type = SerialEvent::Error;
    event.error = error;
    callback(event);
  }
}

bool Serial::Open(const std::string& devicePath, int baudRate, int dataBits,
                  int stopBits,
                  std::function<void(const SerialEvent&)> eventCallback) {
  Close();
  port = devicePath;
  callback = std::move(eventCallback);

  int device = open(port.c_str(), O_RDWR | O_NOCTTY | O_SYNC);
  if (device < 0) {
    EmitError("Cannot open", errno);
    return false;
  }
  // Without a wake pipe nothing could end the reader's wait, so the pipe is
  // part of opening the link: a failure to make it (out of descriptors) is a
  // failure to open the device, reported as one.
  if (!wake.Open()) {
    int error = errno;
    close(device);
    EmitError("Cannot open", error);
    return false;
  }
  zeva::SetCloseOnExec(device);
  // Non-blocking from here on, so that writes are bounded in time (see
  // kWriteTimeoutMs); the reader only reads after poll reports input.
  zeva::SetNonBlocking(device);
  fd.store(device);

  if (tcgetattr(device, &savedSettings) != 0) {
    int error = errno;
    close(device);
    fd.store(-1);
    EmitError("Unable to get state for", error);
    return false;
  }
  settingsSaved = true;

  struct termios settings;
  memset(&settings, 0, sizeof settings);
  settings.c_cflag = CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
  if (stopBits == 2) settings.c_cflag |= CSTOPB;
  settings.c_iflag = IGNPAR;
  settings.c_oflag = 0;
  settings.c_lflag = 0;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  speed_t speed = SpeedFor(baudRate);
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);

  if (tcsetattr(device, TCSANOW, &settings) != 0) {
    int error = errno;
    close(device);
    settingsSaved = false;
    fd.store(-1);
    EmitError("Unable to set state for", error);
    return false;
  }

  // Drain stale wake-ups from an earlier Close before the reader starts.
  wake.Drain();
  running.store(true, std::memory_order_release);
  readerThread = std::thread(&Serial::ReadLoop, this);
  return true;
}

void Serial::Close() {
  if (!running.exchange(false, std::memory_order_acq_rel)) return;

  // Wake the reader and wait for it before the descriptor goes, so that the
  // reader never touches a closed (or reused) descriptor.
  wake.Wake();
  if (readerThread.joinable()) readerThread.join();

  int device = fd.exchange(-1);
  if (device >= 0) {
    {
      // A writer on another thread may still be inside write().
      std::lock_guard<std::mutex> lock(writeMutex);
      if (settingsSaved) {
        tcsetattr(device, TCSANOW, &savedSettings);
        settingsSaved = false;
      }
      close(device);
    }
  }

  if (callback) {
    SerialEvent event;
    event.type = SerialEvent::Closed;
    callback(event);
  }
}

bool Serial::Write(const char* data, int length) {
  if (length < 1 || data == nullptr ||
      !running.load(std::memory_order_acquire))
    return false;
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(writeMutex);
    int device = fd.load();
    size_t remaining = static_cast<size_t>(length);
    // The clock is read only once the device pushes back: a command or a
    // poll that the device takes at once (the usual case) costs one write.
    std::chrono::steady_clock::time_point deadline;
    bool deadlineSet = false;
    while (remaining > 0) {
      ssize_t written = device >= 0 ? write(device, data, remaining) : -1;
      if (written < 0 && errno == EAGAIN) {
        if (!deadlineSet) {
          deadline = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(kWriteTimeoutMs);
          deadlineSet = true;
        }
        if (WaitWritable(device, wake.ReadFd(), deadline, running)) continue;
        if (errno == 0) return false;  // closing: silent, as on a closed link
      }
      if (written < 1) {
        error = device >= 0 ? errno : EBADF;
        if (written == 0) error = 0;
        break;
      }
      data += written;
      remaining -= static_cast<size_t>(written);
    }
    if (remaining == 0) return true;
  }
  // Reported outside the lock: the callback may itself write.
  EmitError("Unable to write to serial port", error);
  return false;
}

bool Serial::Write(const char* text) {
  return text != nullptr && Write(text, static_cast<int>(strlen(text)));
}

bool Serial::Write(const std::string& text) {
  return Write(text.data(), static_cast<int>(text.size()));
}

bool Serial::Write(char c) { return Write(&c, 1); }

void Serial::ReadLoop() {
  if (!running.load(std::memory_order_acquire)) return;
  char buffer[256];
  for (;;) {
    int device = fd.load();
    if (device < 0) return;

    // Waits for input with no timeout: an idle link never wakes this
    // thread, and Close ends the wait at once through the wake pipe (which
    // Open guarantees exists), so no periodic look at the flag is needed.
    struct pollfd fds[2] = {{device, POLLIN, 0}, {wake.ReadFd(), POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    int error = errno;
    if (!running.load(std::memory_order_acquire)) return;
    if (ready < 0) {
      if (error == EINTR) continue;
      EmitError("Serial listen failed", error);
      return;
    }
    if (fds[0].revents == 0) continue;

    ssize_t count = read(device, buffer, sizeof buffer);
    if (count > 0) {
      for (ssize_t i = 0; i < count; ++i) {
        if (!callback) continue;
        SerialEvent event;
        event.type = SerialEvent::Data;
        event.data = buffer[i];
        callback(event);
      }
      continue;
    }
    if (count == 0) {
      EmitError("Read from serial port failed", 0);
      return;
    }
    error = errno;
    if (error == EINTR || error == EAGAIN) continue;
    EmitError("Read from serial port failed", error);
    return;
  }
}
