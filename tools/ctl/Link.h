// Where zeva-ctl's commands go and its pushed lines come from: the daemon
// itself (Connection) or a running station (StationLink). Both hand over
// what arrives as lines, the daemon's kind ("ID BBB" for a bearing),
// readable on one descriptor that the interactive shell polls beside
// standard input.
//
// Owned by main(); called on the main thread only.
#pragma once

#include <csignal>
#include <string>

class Link {
 public:
  enum class Result { Line, Timeout, Closed, Interrupted, Error };

  virtual ~Link() = default;

  // Becomes readable when Fill() has something to take (or the link ended).
  virtual int Fd() const = 0;
  // Takes what is waiting on Fd() into the buffer of lines (after poll
  // said readable). False when the link is gone for good.
  virtual bool Fill() = 0;
  // Takes a line that is already complete, without waiting.
  virtual bool TakeBufferedLine(std::string& line) = 0;

  // Waits up to `timeoutMs` (< 0: no limit) for the next line. Returns
  // Interrupted when `interrupted` is set while waiting (checked at least
  // every 100 ms).
  Result ReadLine(std::string& line, int timeoutMs, const volatile sig_atomic_t* interrupted);
};
