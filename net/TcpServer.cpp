#include "net/TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Common.h"
#include "net/LineFramer.h"

namespace {

// A send to a vanished peer must fail with EPIPE, not end the process; and a
// send never waits: a client that leaves its receive window full (it has not
// read thousands of lines) fails the send like a vanished one, instead of
// holding the client lock, and with it a take-over or a stop, for ever.
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
void PrepareSocket(int) {}
#else
constexpr int kSendFlags = MSG_DONTWAIT;
void PrepareSocket(int fd) {
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
}
#endif

// Waits, with no timeout, until fd is readable or the wake pipe has a byte.
// Returns false when woken by the pipe (or on a poll failure other than
// EINTR).
bool WaitReadable(int fd, int wakeFd) {
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

}  // namespace

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::Start(std::function<void(const std::string&)> commandCallback,
                      std::function<void()> disconnectCallback) {
  Stop();

  // Without a wake pipe nothing could end the accept thread's wait, and the
  // server could never be stopped: a failed start.
  if (!wake.Open()) {
    LogError("Unable to create wake-up pipe: %s", strerror(errno));
    return false;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    LogError("Unable to create listener socket");
    return false;
  }
  zeva::SetCloseOnExec(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(zeva::kTcpPort);
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) !=
      0) {
    LogError("Unable to bind listener on port %d", zeva::kTcpPort);
    close(fd);
    return false;
  }
  if (listen(fd, 4) != 0) {
    LogError("Unable to listen on port %d", zeva::kTcpPort);
    close(fd);
    return false;
  }

  onCommand = std::move(commandCallback);
  onDisconnect = std::move(disconnectCallback);

  // Drain a wake-up left by an earlier Stop.
  wake.Drain();
  {
    std::lock_guard<std::mutex> lock(clientMutex);
    listenFd = fd;
  }
  running.store(true, std::memory_order_release);
  acceptThread = std::thread(&TcpServer::AcceptLoop, this);
  return true;
}

void TcpServer::Stop() {
  if (!running.exchange(false, std::memory_order_acq_rel)) return;

  wake.Wake();
  {
    std::lock_guard<std::mutex> lock(clientMutex);
    CloseClientLocked();
  }
  // The listening socket is closed only once the accept thread has left it,
  // so the thread never polls a closed (or reused) descriptor.
  if (acceptThread.joinable()) acceptThread.join();
  {
    std::lock_guard<std::mutex> lock(clientMutex);
    if (listenFd >= 0) {
      close(listenFd);
      listenFd = -1;
    }
    CloseClientLocked();  // a client accepted just before the thread left
  }
  if (clientThread.joinable()) clientThread.join();
}

void TcpServer::CloseClientLocked() {
  const int fd = clientFd.load(std::memory_order_relaxed);
  if (fd < 0) return;
  // Ends the connection at once: the peer sees it closed, and a reader
  // blocked in recv on this socket wakes on every platform (close alone does
  // not wake it on Linux). The descriptor itself is released by the reader
  // thread that owns it, when it leaves, so its number cannot be reused for
  // a newer client while the old reader may still receive on it.
  shutdown(fd, SHUT_RDWR);
  clientFd.store(-1, std::memory_order_relaxed);
}

void TcpServer::Write(const std::string& text) {
  {
    std::lock_guard<std::mutex> queue(outgoingMutex);
    outgoing.push_back(text);
    if (sending) return;  // the thread sending now sends this text too
    sending = true;
  }
  for (;;) {
    batch.clear();  // keeps its capacity: no allocation once warmed up
    {
      std::lock_guard<std::mutex> queue(outgoingMutex);
      if (outgoing.empty()) {
        sending = false;
        return;
      }
      batch.swap(outgoing);
    }
    std::lock_guard<std::mutex> lock(clientMutex);
    for (const std::string& line : batch) {
      const int fd = clientFd.load(std::memory_order_relaxed);
      if (fd < 0) break;  // no client: the rest is dropped
      ssize_t sent = send(fd, line.data(), line.size(), kSendFlags);
      if (sent > 0) continue;
      LogError("Network write failed");
      CloseClientLocked();
    }
  }
}

void TcpServer::AcceptLoop() {
  while (running.load(std::memory_order_acquire)) {
    bool readable = WaitReadable(listenFd, wake.ReadFd());
    if (!running.load(std::memory_order_acquire)) return;
    if (!readable) continue;

    struct sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    int socket =
        accept(listenFd, reinterpret_cast<struct sockaddr*>(&peer), &peerLength);
    if (!running.load(std::memory_order_acquire)) {
      if (socket >= 0) close(socket);
      return;
    }
    if (socket < 0) {
      // Out of descriptors or memory: pause briefly instead of spinning.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
          errno == ENOMEM)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    zeva::SetCloseOnExec(socket);
    PrepareSocket(socket);
    // Every send is one whole line the client waits for (a bearing, the
    // version): send it at once rather than hold it for an earlier ACK.
    int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    char address[64] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    LogMessage("Connected to %s", address);

    {
      std::lock_guard<std::mutex> lock(clientMutex);
      if (clientFd.load(std::memory_order_relaxed) >= 0) {
        LogMessage("Closing previous client connection");
        CloseClientLocked();
      }
      clientFd.store(socket, std::memory_order_relaxed);
    }
    if (clientThread.joinable()) clientThread.join();
    clientThread = std::thread(&TcpServer::ClientReadLoop, this, socket);
  }
}

void TcpServer::ClientReadLoop(int socket) {
  LineFramer framer(kMaxPendingBytes);
  // The reader serves its connection only while it is still the current one
  // and the server runs. A stop or a newer client shuts the socket down, but
  // a shut-down socket still returns what was queued in it, so this is asked
  // before every receive and every line: a displaced client's backlog is
  // dropped, never handled after the newer client's commands.
  const auto owned = [this, socket] {
    return running.load(std::memory_order_acquire) &&
           clientFd.load(std::memory_order_acquire) == socket;
  };
  const std::function<void(const std::string&)> handle =
      [this, &owned](const std::string& line) {
        if (owned() && onCommand) onCommand(line);
      };
  char buffer[1024];

  while (owned()) {
    ssize_t received = recv(socket, buffer, sizeof buffer, 0);
    if (received <= 0) {
      if (received < 0 && errno == EINTR) continue;
      break;
    }
    framer.Feed(buffer, static_cast<size_t>(received), handle);
  }

  bool lost;
  {
    std::lock_guard<std::mutex> lock(clientMutex);
    // Otherwise stopped, replaced by a newer client, or dropped by a failed
    // write: the connection ends silently.
    const bool current = clientFd.load(std::memory_order_relaxed) == socket;
    lost = current && running.load(std::memory_order_acquire);
    if (current) CloseClientLocked();
  }
  close(socket);
  if (!lost) return;
  LogMessage("Lost client connection");
  if (onDisconnect) onDisconnect();
}
