// Starting the two programs under test, each against emulated boxes:
// the ZEVA daemon (fixed TCP port 13020, rotators configured by its client)
// and Hamlib's rotctld (one GS-232B box, a TCP port of its own).
#pragma once

#include <string>
#include <vector>

#include "bench/Box.h"
#include "bench/Child.h"
#include "bench/Net.h"

namespace bench {

struct Paths {
  std::string daemon;   // the zeva-rotator binary
  std::string rotctld;  // Hamlib's rotctld
  std::string logDir;   // the programs' output goes to files here
  std::string bench;    // this program, for the relay (see Relay.h)
  std::string station;  // zeva-station, for the logger's path (may be empty)
};

// Starts the daemon and connects `client` to it once the daemon says it is
// running (so the connection is known to be this daemon's, not another
// program's that holds the port). Tries a few times when the port is busy.
bool StartZeva(const Paths& paths, Child& daemon, LineClient& client);

// The CONFIGURE lines for boxes[i] as rotator firstId + i, Yaesu, pollMs.
std::string ConfigureLines(const std::vector<Box*>& boxes, int firstId,
                           int pollMs);

// Waits until every box's slave is raw (configured by the program under
// test). False after timeoutMs.
bool WaitRaw(const std::vector<Box*>& boxes, int timeoutMs);

// rotctld for a Yaesu GS-232B (Hamlib model 603) on the box's slave,
// listening on 127.0.0.1:port; extra options such as
// "--set-conf=post_write_delay=0". Returns once it has opened the device
// and accepts connections on `client`.
bool StartRotctld(const Paths& paths, Box& box, int port,
                  const std::vector<std::string>& extra, const std::string& tag,
                  Child& rotctld, LineClient& client);

}  // namespace bench
