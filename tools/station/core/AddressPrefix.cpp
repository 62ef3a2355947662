#include "core/AddressPrefix.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "tools/CommandLine.h"

bool AddressPrefix::Parse(const std::string& text, AddressPrefix& prefix) {
  std::string::size_type slash = text.find('/');
  const std::string address = text.substr(0, slash);
  AddressPrefix parsed;
  if (inet_pton(AF_INET, address.c_str(), parsed.bytes) == 1) {
    parsed.family = AF_INET;
  } else if (inet_pton(AF_INET6, address.c_str(), parsed.bytes) == 1) {
    parsed.family = AF_INET6;
  } else {
    return false;
  }
  const int most = parsed.family == AF_INET ? 32 : 128;
  parsed.bits = most;
  if (slash != std::string::npos && !zeva_tools::ToWhole(text.substr(slash + 1), 0, most, parsed.bits)) {
    return false;
  }
  prefix = parsed;
  return true;
}

bool AddressPrefix::Contains(const struct sockaddr_storage& address) const {
  const unsigned char* sender = nullptr;
  if (address.ss_family == AF_INET) {
    sender = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in&>(address).sin_addr);
    if (family != AF_INET) return false;
  } else if (address.ss_family == AF_INET6) {
    sender = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (family == AF_INET && std::memcmp(sender, kMapped, sizeof kMapped) == 0) {
      sender += sizeof kMapped;  // an IPv4 sender on a dual-stack socket
    } else if (family != AF_INET6) {
      return false;
    }
  } else {
    return false;
  }
  const int whole = bits / 8, rest = bits % 8;
  if (std::memcmp(sender, bytes, static_cast<size_t>(whole)) != 0) return false;
  if (rest == 0) return true;
  const unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
  return (sender[whole] & mask) == (bytes[whole] & mask);
}
