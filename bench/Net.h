// The benchmark's side of a TCP connection on loopback: a client of the
// daemon under test or of rotctld, reading lines with the time their last
// byte arrived.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace bench {

class LineClient {
 public:
  LineClient() = default;
  ~LineClient() { Close(); }
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  // Connects to 127.0.0.1:port, trying again until timeoutMs has passed
  // (the server may still be starting). TCP_NODELAY is set, so the
  // benchmark's own sends are never held back.
  bool Connect(int port, int timeoutMs);
  bool Connected() const { return fd >= 0; }
  // Takes over a connected socket (one the benchmark accepted).
  void Adopt(int socket);
  bool Send(const std::string& bytes);

  // Reads one line ended by `eol` (returned without it) and the time it was
  // complete. Not to be mixed with StartReader.
  bool ReadLine(char eol, int timeoutMs, std::string* line, int64_t* atNs);

  // Hands every line ended by `eol` to onLine on a thread of its own.
  void StartReader(char eol,
                   std::function<void(const std::string&, int64_t)> onLine);

  // Closes the connection (the peer sees an orderly end) and ends the
  // reader thread.
  void Close();

 private:
  int fd = -1;
  std::string pending;          // ReadLine's bytes past the last line
  int64_t lastReceiveNs = 0;    // when ReadLine's last recv returned
  std::thread reader;
};

// Moves the benchmark (and every process it starts later) into a network
// namespace of its own with only the loopback interface, up. The daemon's
// port is fixed, so this keeps the benchmark from meeting other programs on
// it, and them from meeting the benchmark. Needs CAP_SYS_ADMIN (root);
// Linux only. Must be called before any thread is started.
bool EnterPrivateNetwork(std::string* error);

// A listening socket on 127.0.0.1 at a port the system picks (stored in
// *port); -1 on failure.
int ListenOnLoopback(int* port);
// Accepts one connection within timeoutMs; -1 on time-out.
int AcceptWithin(int listener, int timeoutMs);

// True when nothing listens on 127.0.0.1:port and it can be bound.
bool PortIsFree(int port);
// A port that was free a moment ago, for a server the benchmark starts.
int PickFreePort();

}  // namespace bench
