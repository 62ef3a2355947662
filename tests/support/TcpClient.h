// A client of the daemon's command port on loopback, as tests use it: send
// raw bytes, read the lines the daemon sends (each ended by CR).
#pragma once

#include <string>

namespace testing_support {

class TcpClient {
 public:
  TcpClient() = default;
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Connects to 127.0.0.1:port, retrying for up to timeoutMs.
  bool Connect(int port = 13020, int timeoutMs = 5000);
  bool Send(const std::string& bytes);
  bool Command(const std::string& line) { return Send(line + "\r"); }
  // The next line ended by CR (without it), or "" after timeoutMs.
  std::string ReadLine(int timeoutMs);
  // The next line ended by `end`, with it; "" when none is complete within timeoutMs or
  // the connection ends (what came of it stays pending).
  std::string ReadLineEndedBy(char end, int timeoutMs);
  // What has arrived but not been read yet, which is then forgotten.
  std::string TakePending();
  // Reads lines until one equals `line`; false after timeoutMs.
  bool WaitForLine(const std::string& line, int timeoutMs);
  // Everything that arrives within timeoutMs.
  std::string ReadAll(int timeoutMs);
  // True when the daemon has closed the connection (within timeoutMs).
  bool WaitClosed(int timeoutMs);
  void Close();
  int Fd() const { return fd; }

 private:
  bool Receive(int timeoutMs);
  int fd = -1;
  std::string pending;
};

// True when nothing else holds the port (a bind would succeed).
bool PortIsFree(int port = 13020);

}  // namespace testing_support
