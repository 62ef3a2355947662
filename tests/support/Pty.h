// A pseudo-terminal playing a box's serial port: the test keeps the master,
// reads what is written to the slave and answers; Vanish() unplugs it.
#pragma once

#include <termios.h>

#include <string>

namespace testing_support {

class Pty {
 public:
  Pty();   // opens a master; check Ok()
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master >= 0; }
  const std::string& SlavePath() const { return slavePath; }

  // Writes bytes as the box would send them.
  bool Send(const std::string& bytes);
  // Reads whatever arrives within timeoutMs (returns early once `want`
  // bytes are in, when want > 0).
  std::string Read(int timeoutMs, size_t want = 0);

  // The slave's terminal settings, read or set through the slave.
  bool SlaveSettings(struct termios* settings) const;
  bool SetSlaveSettings(const struct termios& settings) const;

  // The device goes away: the master is closed.
  void Vanish();

 private:
  std::string slavePath;
  int master = -1;
};

}  // namespace testing_support
