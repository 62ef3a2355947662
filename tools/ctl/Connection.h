// The TCP connection to the daemon: connects with a time limit, sends
// command lines ended by a single carriage return, and cuts the received
// byte stream into lines at carriage returns (a line feed next to one is
// dropped).
#pragma once

#include <csignal>
#include <string>

class Connection {
 public:
  enum class Result { Line, Timeout, Closed, Interrupted, Error };

  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // On failure returns false with the system's reason in `error`.
  bool Connect(const std::string& host, int port, int timeoutMs, std::string& error);
  void Close();
  // Tells the daemon that nothing more will be sent (its side then sees the
  // end of the stream after the lines already sent).
  void ShutdownSending();

  // Sends `line` and a carriage return. False when the connection is gone.
  bool SendLine(const std::string& line);

  // Waits up to `timeoutMs` (< 0: no limit) for the next complete line.
  // Returns Interrupted when `interrupted` is set while waiting (checked at
  // least every 100 ms).
  Result ReadLine(std::string& line, int timeoutMs, const volatile sig_atomic_t* interrupted);

  // Takes a line that is already complete in the buffer, without waiting.
  bool TakeBufferedLine(std::string& line);

  int Fd() const { return fd; }
  // Reads what is waiting on the socket into the buffer (after poll said
  // readable). False when the daemon closed the connection or it failed.
  bool Fill();

 private:
  int fd = -1;
  std::string buffer;
};
