// TcpServer is the daemon's only network endpoint. It listens on TCP port
// 13020 on all IPv4 addresses, serves one client at a time (a newer client
// replaces the older), cuts the client's bytes into lines ended by a carriage
// return and hands each line to the command callback. It tells the
// disconnect callback when its reader loses the client, and lets any thread
// send text to the client.
//
// Ownership: RotatorController owns the one server. The callbacks capture
// only the controller's address.
//
// Threads: Start and Stop come from the main thread; the accept thread and
// the client reader thread are the server's own; Write may be called from
// any thread. Both callbacks run on the client reader thread only. Stop must
// not be called from the server's own threads (it joins them).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/WakePipe.h"

class TcpServer {
 public:
  // Text received without a carriage return is bounded: past this many bytes
  // the line is discarded up to its carriage return, with one log line.
  static constexpr size_t kMaxPendingBytes = 4096;

  TcpServer() = default;
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  bool Start(std::function<void(const std::string&)> onCommand,
             std::function<void()> onDisconnect);
  void Stop();

  // Sends text to the current client, if any, in one send under the client
  // lock. The send never waits: a failed send, including one to a client
  // that has left its receive window full, logs "Network write failed" and
  // drops the client (its rotators stay).
  //
  // Writers do not queue up on the client lock: a text written while
  // another thread is sending is left in a queue for that thread, which
  // sends every queued text (each in a send of its own, in the order
  // written) before it returns. So a rotator's reader thread whose line
  // meets another's send is back at its device at once, instead of sleeping
  // on the lock and waiting to be woken and scheduled again.
  void Write(const std::string& text);

 private:
  void CloseClientLocked();
  void AcceptLoop();
  void ClientReadLoop(int socket);

  // Set before the accept thread starts, constant while it runs.
  std::function<void(const std::string&)> onCommand;
  std::function<void()> onDisconnect;

  std::atomic<bool> running{false};

  // State below is protected by clientMutex (listenFd is also read without
  // it by the accept thread; it changes only while that thread is absent).
  int listenFd = -1;
  // The current client's socket. Other threads only shut it down; the reader
  // thread that owns it closes the descriptor when it leaves. Changed only
  // under clientMutex; atomic because that reader also reads it without the
  // lock before every receive and every line, to stop at once when it no
  // longer owns the connection (a shut-down socket still returns the data
  // queued in it).
  std::atomic<int> clientFd{-1};
  std::mutex clientMutex;

  std::thread acceptThread;
  std::thread clientThread;

  // Texts written but not yet sent, and whether a writer is sending them.
  // Protected by outgoingMutex, which is never held during a send nor while
  // taking clientMutex.
  std::mutex outgoingMutex;
  std::vector<std::string> outgoing;
  bool sending = false;
  // The texts being sent: used only by the writer that set `sending`.
  std::vector<std::string> batch;

  // Stop wakes the accept thread through it (closing a listening socket does
  // not wake a blocked accept on every platform). Made by Start; a server
  // whose pipe cannot be made does not start.
  zeva::WakePipe wake;
};
