// A rotctld-protocol client on loopback, as the bridge tests use it: sends
// command lines ended by a line feed and reads the answer lines.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TcpClient.h"

namespace bridge_test {

class RotctlClient {
 public:
  // Connects to 127.0.0.1:port, retrying for up to timeoutMs.
  bool Connect(int port, int timeoutMs = 5000) { return connection.Connect(port, timeoutMs); }
  bool Send(const std::string& bytes) { return connection.Send(bytes); }

  // Sends `command` and a line feed, then reads up to `lines` answer lines,
  // the last being "RPRT n" if one comes; returns them as sent (each with
  // its line feed), fewer when the time runs out.
  std::string Ask(const std::string& command, int lines, int timeoutMs = 5000);
  // The next line (with its line feed), or what came of it within timeoutMs.
  std::string ReadLine(int timeoutMs);
  // True when the bridge closed the connection within timeoutMs.
  bool WaitClosed(int timeoutMs) { return connection.WaitClosed(timeoutMs); }

 private:
  testing_support::TcpClient connection;
};

// A loopback TCP port that nothing listens on now, with `port + 2` free too
// (the bridge gives a second rotator the port two above the first).
int FreePortPair();

// Runs Debian's rotctl -m 2 against 127.0.0.1:port with `command`: "status:
// output", without the trace of dump_state lines it adds to an error.
std::string Rotctl(int port, const std::vector<std::string>& command);

}  // namespace bridge_test
