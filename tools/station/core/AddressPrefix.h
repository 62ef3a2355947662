// A network address with a prefix length ("192.168.1.0/24", "10.0.0.7",
// "fd00::/8"): the senders a front that has no login (UDP datagrams) takes
// commands from. An IPv4 sender that reaches an IPv6 socket as a mapped
// address (::ffff:192.168.1.7) counts as the IPv4 address.
//
// A value type; pure, safe to use from any thread.
#pragma once

#include <sys/socket.h>

#include <string>

class AddressPrefix {
 public:
  // ADDRESS or ADDRESS/BITS (0..32 for IPv4, 0..128 for IPv6; no BITS: the
  // one address). False when it is not one.
  static bool Parse(const std::string& text, AddressPrefix& prefix);

  bool Contains(const struct sockaddr_storage& address) const;

 private:
  int family = AF_UNSPEC;
  unsigned char bytes[16] = {};  // the address, network order (4 used for IPv4)
  int bits = 0;
};
