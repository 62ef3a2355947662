// RotatorController joins the network side to the rotator side. It owns the
// TcpServer and the RotatorMgr, starts the server with two callbacks that feed
// received lines to the registry and clear the registry when the client goes
// away, and offers rotators two ways to report: a status log line and a write
// to the connected client.
//
// Ownership: main owns the one controller (a local object) and publishes its
// address in g_controller. The controller owns the server and the registry;
// the registry is destroyed before the server.
//
// Threads: main calls the constructor, Start, Stop and the destructor. The
// callbacks run on the server's client reader thread. ShowStatus and TcpWrite
// are called from any thread (client reader, serial readers, timers).
#pragma once

#include <atomic>
#include <memory>
#include <string>

class TcpServer;
class RotatorMgr;

class RotatorController {
 public:
  RotatorController();
  ~RotatorController();
  RotatorController(const RotatorController&) = delete;
  RotatorController& operator=(const RotatorController&) = delete;

  bool Start();
  // Stops the server (joining its threads), then destroys every rotator.
  // Acts only the first time after a successful Start.
  void Stop();
  void Wait();

  void ShowStatus(const std::string& text);
  void TcpWrite(const std::string& text);
  void HandleCommand(const std::string& line);
  void HandleDisconnect();

 private:
  std::unique_ptr<TcpServer> server;
  std::unique_ptr<RotatorMgr> rotatorMgr;
  std::atomic<bool> running{false};
};

// The one controller, or null before main has made it and after main has
// stopped it. Written only by the main thread while no other thread runs.
extern RotatorController* g_controller;
