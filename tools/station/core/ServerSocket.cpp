#include "core/ServerSocket.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/WakePipe.h"

ServerSocket OpenServerSocket(const std::string& address, int port, int type, int backlog) {
  ServerSocket result;
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = type;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  struct addrinfo* addresses = nullptr;
  int status = getaddrinfo(address.empty() ? nullptr : address.c_str(),
                           std::to_string(port).c_str(), &hints, &addresses);
  if (status != 0) {
    result.unresolved = true;
    result.reason = gai_strerror(status);
    return result;
  }
  result.reason = "no address";
  for (struct addrinfo* a = addresses; a != nullptr && result.fd < 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) {
      result.reason = strerror(errno);
      continue;
    }
    int on = 1;
    if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 ||
        (type == SOCK_STREAM && listen(fd, backlog) != 0)) {
      result.reason = strerror(errno);
      close(fd);
      continue;
    }
    zeva::SetCloseOnExec(fd);
    zeva::SetNonBlocking(fd);
    result.fd = fd;
  }
  freeaddrinfo(addresses);
  return result;
}
