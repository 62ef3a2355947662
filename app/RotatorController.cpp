#include "app/RotatorController.h"

#include <chrono>
#include <thread>

#include "command/RotatorMgr.h"
#include "common/Common.h"
#include "net/TcpServer.h"

RotatorController* g_controller = nullptr;

RotatorController::RotatorController()
    : server(new TcpServer()), rotatorMgr(new RotatorMgr()) {}

RotatorController::~RotatorController() {
  Stop();
  rotatorMgr.reset();
  server.reset();
}

bool RotatorController::Start() {
  std::function<void(const std::string&)> commandCallback =
      [this](const std::string& line) { HandleCommand(line); };
  std::function<void()> disconnectCallback = [this] { HandleDisconnect(); };
  if (!server || !server->Start(commandCallback, disconnectCallback)) {
    LogError("Failed to bind to port %d", zeva::kTcpPort);
    return false;
  }
  running.store(true, std::memory_order_release);
  return true;
}

void RotatorController::Stop() {
  if (!running.exchange(false, std::memory_order_acq_rel)) return;
  // The server stops first, so no client line reaches the registry while it
  // is being cleared.
  if (server) server->Stop();
  if (rotatorMgr) rotatorMgr->Cleanup();
}

void RotatorController::Wait() {
  while (running.load(std::memory_order_acquire))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void RotatorController::ShowStatus(const std::string& text) {
  if (text.empty()) return;
  LogMessage("Status: %s", text.c_str());
}

void RotatorController::TcpWrite(const std::string& text) {
  if (server) server->Write(text);
}

void RotatorController::HandleCommand(const std::string& line) {
  if (rotatorMgr) rotatorMgr->Parse(line);
}

void RotatorController::HandleDisconnect() {
  if (rotatorMgr) rotatorMgr->Cleanup();
}
