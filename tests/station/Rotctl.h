// What the station tests share: rotctld-protocol questions on a loopback
// client, free ports for the station, and Debian's rotctl.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TcpClient.h"

namespace station_test {

// Sends `command` and a line feed, then reads up to `lines` answer lines,
// the last being "RPRT n" if one comes; returns them as sent (each with its
// line feed), and what came of a line that did not end within timeoutMs.
std::string Ask(testing_support::TcpClient& client, const std::string& command, int lines,
                int timeoutMs = 5000);

// A loopback TCP port that nothing listens on now, with the `count - 1`
// ports two apart above it free too (the station gives each further
// rotator the port two above the one before); 0 when none is found.
int FreePorts(int count);

// Runs Debian's rotctl -m 2 against 127.0.0.1:port with `command`: "status:
// output", without the trace of dump_state lines it adds to an error.
std::string Rotctl(int port, const std::vector<std::string>& command);

}  // namespace station_test
