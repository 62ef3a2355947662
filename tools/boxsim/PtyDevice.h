// The pseudo-terminal the emulated box hangs on. The master side is ours;
// the slave side is the "serial port" the daemon opens by its path. The
// emulator keeps one descriptor of the slave open for its whole life, set to
// raw mode, so that the line stays usable (no EIO on the master) while the
// daemon closes and reopens it.
#pragma once

#include <string>

class PtyDevice {
 public:
  PtyDevice() = default;
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // Creates the pair, sets the slave raw at the given line speed and makes
  // the master non-blocking. On failure returns false and fills `error`.
  bool Open(int baudRate, std::string& error);
  // Closes both sides; the slave path disappears.
  void Close();

  int MasterFd() const { return master; }
  const std::string& SlavePath() const { return slavePath; }

  // Throws away bytes that were written to the daemon but never read.
  void DropUnread();

 private:
  int master = -1;
  int slave = -1;
  std::string slavePath;
};
