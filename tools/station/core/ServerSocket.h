// The sockets the station's fronts serve on: a rotctld port and the web
// page's (TCP, listening) and the contest logger's (UDP, bound). An address
// may be a name, an IPv4 or an IPv6 address (empty: every address); the
// first of its addresses that takes the socket is used.
//
// A plain function; called on the station's thread while the fronts open.
#pragma once

#include <string>

struct ServerSocket {
  int fd = -1;              // close-on-exec and non-blocking; -1: none
  bool unresolved = false;  // the address could not be looked up (rather than bound)
  std::string reason;       // why there is none, in the resolver's or the system's words
};

// A SOCK_STREAM socket listens with `backlog` and reuses the address (a
// restarted station gets its ports at once); a SOCK_DGRAM socket is only
// bound, without SO_REUSEADDR, so that a second program on the port is an
// error rather than a thief of some of its datagrams.
ServerSocket OpenServerSocket(const std::string& address, int port, int type, int backlog = 0);
