// The station page's side of the station's loop: it publishes the rotators'
// state to the WebBoard whenever it changes, carries out the turns and
// stops that pages post (through the same StationRotator calls as rotctld
// clients, so both see one truth), and answers each once the daemon has
// taken the command, or says why not.
//
// Owned by Station when --http is given; called on the station's thread only.
// The rotators and the link belong to Station and outlive it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "core/DaemonLink.h"
#include "core/PollSet.h"
#include "web/HttpServer.h"
#include "web/WebBoard.h"
#include "web/WebRoutes.h"

class WebFront {
 public:
  using Clock = std::chrono::steady_clock;

  // Connections the page's server takes at once.
  static constexpr unsigned kConnections = 1100;

  WebFront(const StationOptions& options,
           const std::vector<std::unique_ptr<StationRotator>>& rotators, const DaemonLink& link);
  ~WebFront();

  // Reads the secret file and binds the page's address; false with the
  // reason when either fails.
  bool Open(std::string& error);
  void Start(Clock::time_point now);
  void Stop();

  void AddToPollSet(PollSet& set);
  // Answers what the daemon has taken and publishes the state.
  void Service(Clock::time_point now);
  // When Service has something to do next (a time-out, a rotator that
  // stopped turning).
  Clock::time_point NextDeadline() const;

 private:
  struct Pending {
    std::vector<std::pair<const StationRotator*, uint64_t>> tickets;
    Clock::time_point deadline;
    std::function<void(WebReply)> answer;
    std::string body;  // the answer once every ticket is done
  };

  void TakeRequests();
  void HandleTurn(WebRequest& request);
  void HandleStop(WebRequest& request);
  StationRotator* Find(int id) const;
  std::string StateJson(Clock::time_point now);
  Clock::duration TurningWindow(const StationRotator& rotator) const;

  const StationOptions& options;
  const std::vector<std::unique_ptr<StationRotator>>& rotators;
  const DaemonLink& link;
  std::string secret;
  WebBoard board;
  std::unique_ptr<WebRoutes> routes;
  std::unique_ptr<HttpServer> server;
  std::vector<Pending> pending;
  Clock::time_point nextChange = Clock::time_point::max();  // a turning rotator may be still then
};
