// The station page's side of the station's loop: it publishes the rotators'
// state to the WebBoard whenever it changes, carries out the turns, stops
// and following of the sun or the moon that pages and zeva-ctl post
// (through the same StationRotator calls as the other fronts, so all see
// one truth), and answers each once the daemon has taken the command, or
// says why not.
//
// Owned by Station when --http is given; called on the station's thread only.
// The rotators, the link, the place finder and the follower (null without
// the station's place) belong to Station and outlive it.
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
#include "core/SkyFollower.h"
#include "web/HttpServer.h"
#include "web/PlaceApi.h"
#include "web/WebBoard.h"
#include "web/WebRoutes.h"

class WebFront {
 public:
  using Clock = std::chrono::steady_clock;

  // Connections the page's server takes at once (when the descriptor limit
  // allows): a thousand pages and room for the slow and the curious.
  static constexpr unsigned kConnections = 1100;

  WebFront(const StationOptions& options,
           const std::vector<std::unique_ptr<StationRotator>>& rotators, const DaemonLink& link,
           const PlaceFinder& places, SkyFollower* follower);
  ~WebFront();

  // Reads the secret: the first line of the file `name` (a bare name: of
  // systemd's credentials directory when there is one), which must be a
  // regular file of at most 4 KiB (tools/SecretFile.h). False with the
  // reason.
  static bool ReadSecret(const std::string& name, std::string& secret, std::string& error);

  // Binds the page's address and starts serving, at most `connections`
  // at once; false with the reason.
  bool Open(unsigned connections, std::string& error);
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
  void HandleFollow(WebRequest& request);
  StationRotator* Find(int id) const;
  std::string StateJson(Clock::time_point now);
  std::string StationJson() const;
  std::string FollowJson(const StationRotator& rotator) const;
  Clock::duration TurningWindow(const StationRotator& rotator) const;

  const StationOptions& options;
  const std::vector<std::unique_ptr<StationRotator>>& rotators;
  const DaemonLink& link;
  SkyFollower* const follower;
  PlaceApi placeApi;
  WebBoard board;
  std::unique_ptr<WebRoutes> routes;
  std::unique_ptr<HttpServer> server;
  std::vector<Pending> pending;
  Clock::time_point nextChange = Clock::time_point::max();  // a turning rotator may be still then
};
