// The TCP connection to the daemon: connects with a time limit, sends
// command lines ended by a single carriage return, and cuts the received
// byte stream into lines at carriage returns (a line feed next to one is
// dropped).
//
// Owned by main(); called on the main thread only.
#pragma once

#include <string>

#include "Link.h"

class Connection : public Link {
 public:
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

  // Whether the daemon is on this host (a loopback address), where zeva-ctl
  // sees the same devices as it does.
  bool PeerIsLocal() const;

  // Sends `line` and a carriage return. False when the connection is gone.
  bool SendLine(const std::string& line);

  bool TakeBufferedLine(std::string& line) override;
  int Fd() const override { return fd; }
  // False when the daemon closed the connection or it failed.
  bool Fill() override;

 private:
  int fd = -1;
  std::string buffer;
};
