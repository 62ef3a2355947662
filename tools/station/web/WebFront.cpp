#include "web/WebFront.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "core/StationLog.h"
#include "common/Common.h"
#include "tools/SecretFile.h"
#include "web/Json.h"

namespace {

// A turn or stop the daemon has not taken within this long is answered 504
// (the daemon is busy with a command that hangs).
constexpr auto kTakeWait = std::chrono::seconds(2);
// A rotator counts as turning this long after its bearing last changed, and
// at least two polling periods.
constexpr auto kTurningMin = std::chrono::milliseconds(1500);

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

// {"source":"rotctld 127.0.0.1:40312","command":"turn to 123","at":MS}
// (at: milliseconds since 1970), or null before the first command.
std::string LastJson(const StationRotator::Request& last) {
  if (last.source.empty()) return "null";
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(last.at.time_since_epoch());
  return "{\"source\":" + JsonString(last.source) + ",\"command\":" + JsonString(last.what) +
         ",\"at\":" + std::to_string(ms.count()) + "}";
}

WebReply Answer(int status, const std::string& error) {
  return {status, JsonError(error)};
}

std::string Degrees(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.4f", value);
  return text;
}

}  // namespace

WebFront::WebFront(const StationOptions& options,
                   const std::vector<std::unique_ptr<StationRotator>>& rotators,
                   const DaemonLink& link, const PlaceFinder& places, SkyFollower* follower)
    : options(options), rotators(rotators), link(link), follower(follower), placeApi(options, places) {}

WebFront::~WebFront() { Stop(); }

bool WebFront::ReadSecret(const std::string& name, std::string& secret, std::string& error) {
  // A bare name is a systemd credential (LoadCredential=NAME:PATH), which
  // a service with a dynamic user can read where the file itself is root's
  // alone.
  std::string path = name;
  const char* credentials = getenv("CREDENTIALS_DIRECTORY");
  if (path.find('/') == std::string::npos && credentials != nullptr) {
    path = std::string(credentials) + "/" + path;
  }
  using Outcome = zeva_tools::SecretFile::Outcome;
  const zeva_tools::SecretFile file = zeva_tools::ReadSecretFile(path);
  if ((file.outcome == Outcome::kRead || file.outcome == Outcome::kEmptyLine) && file.othersCanRead) {
    StationLog("warning: other users can read the secret file %s (chmod 600 it)", path.c_str());
  }
  switch (file.outcome) {
    case Outcome::kRead:
      secret = file.secret;
      return true;
    case Outcome::kCannotOpen:
    case Outcome::kCannotRead:
      error = "cannot read the secret file " + path + ": " + strerror(file.error);
      return false;
    case Outcome::kNotRegular:
      error = "the secret file " + path + " is not a regular file";
      return false;
    case Outcome::kTooLarge:
      error = "the secret file " + path + " is larger than 4 KiB";
      return false;
    case Outcome::kEmptyLine:
      error = "the secret file " + path + " starts with an empty line";
      return false;
  }
  return false;
}

bool WebFront::Open(unsigned connections, std::string& error) {
  if (!board.Open()) {
    error = "cannot create the web page's wake-up pipe";
    return false;
  }
  // The first state is there before the first page asks.
  board.Publish(StateJson(Clock::now()));
  routes = std::make_unique<WebRoutes>(options, options.secret, board, placeApi);
  server = std::make_unique<HttpServer>(
      board, [this](const HttpRequest& request, const HttpReply& reply) {
        routes->Handle(request, reply);
      });
  return server->Open(options.httpAddress, options.httpPort, connections, error);
}

void WebFront::Start(Clock::time_point now) {
  board.Publish(StateJson(now));
  const std::string& address = options.httpAddress;
  const bool v6 = address.find(':') != std::string::npos;
  StationLog("web page on http://%s%s%s:%d/%s", v6 ? "[" : "", address.c_str(), v6 ? "]" : "",
             options.httpPort, options.secret.empty() ? "" : " (turning needs the secret)");
}

void WebFront::Stop() {
  board.Close();
  if (server) server->Stop();
  server.reset();
  for (Pending& waiting : pending) waiting.answer(Answer(503, "the station is stopping"));
  pending.clear();
}

void WebFront::AddToPollSet(PollSet& set) {
  set.Add(board.ReadFd(), POLLIN, [this](short) { TakeRequests(); });
}

void WebFront::TakeRequests() {
  for (WebRequest& request : board.TakeRequests()) {
    if (request.kind == WebRequest::Kind::Turn) {
      HandleTurn(request);
    } else if (request.kind == WebRequest::Kind::Follow) {
      HandleFollow(request);
    } else {
      HandleStop(request);
    }
  }
}

StationRotator* WebFront::Find(int id) const {
  for (auto& rotator : rotators) {
    if (rotator->Setup().id == id) return rotator.get();
  }
  return nullptr;
}

void WebFront::HandleTurn(WebRequest& request) {
  StationRotator* rotator = Find(request.rotator);
  const std::string name = "rotator " + std::to_string(request.rotator);
  int bearing = 0;
  if (rotator == nullptr) {
    request.answer(Answer(404, "there is no " + name));
  } else if (!rotator->Available()) {
    request.answer(Answer(503, name + " is offline"));
  } else if (!rotator->Bearing(request.azimuth, bearing)) {
    // The range in true bearings: the box's, turned by the calibration offset.
    const RotatorSetup& setup = rotator->Setup();
    request.answer(Answer(422, Number(request.azimuth) + " is outside " + name + "'s range " +
                                   std::to_string(setup.minAz + setup.offset) + ".." +
                                   std::to_string(setup.maxAz + setup.offset)));
  } else {
    if (options.verbose) StationLog("web: %s turn to %d", name.c_str(), bearing);
    Pending waiting;
    uint64_t ticket = rotator->Turn(bearing, request.source);
    if (ticket != 0) waiting.tickets.emplace_back(rotator, ticket);
    waiting.body = "{\"rotator\":" + std::to_string(request.rotator) +
                   ",\"bearing\":" + std::to_string(bearing) +
                   (request.place.empty() ? "" : ",\"name\":" + JsonString(request.place)) + "}";
    waiting.answer = std::move(request.answer);
    waiting.deadline = Clock::now() + kTakeWait;
    pending.push_back(std::move(waiting));
  }
}

void WebFront::HandleStop(WebRequest& request) {
  Pending waiting;
  std::string stopped;
  for (auto& rotator : rotators) {
    if (request.rotator != 0 && rotator->Setup().id != request.rotator) continue;
    if (!rotator->Available()) continue;
    waiting.tickets.emplace_back(rotator.get(), rotator->Halt(request.source));
    stopped += (stopped.empty() ? "" : ",") + std::to_string(rotator->Setup().id);
  }
  if (waiting.tickets.empty()) {
    const std::string name = "rotator " + std::to_string(request.rotator);
    if (request.rotator == 0) {
      request.answer(Answer(503, "every rotator is offline"));
    } else {
      request.answer(Find(request.rotator) == nullptr ? Answer(404, "there is no " + name)
                                                               : Answer(503, name + " is offline"));
    }
    return;
  }
  if (options.verbose) StationLog("web: stop %s", stopped.c_str());
  waiting.body = "{\"stopped\":[" + stopped + "]}";
  waiting.answer = std::move(request.answer);
  waiting.deadline = Clock::now() + kTakeWait;
  pending.push_back(std::move(waiting));
}

void WebFront::HandleFollow(WebRequest& request) {
  StationRotator* rotator = Find(request.rotator);
  Body body = Body::Moon;
  BodyFromName(request.body, body);
  uint64_t ticket = 0;
  std::string reason;
  if (follower == nullptr) {
    request.answer(Answer(404, PlaceApi::kNoPlace));
  } else if (rotator == nullptr) {
    request.answer(Answer(404, "there is no rotator " + std::to_string(request.rotator)));
  } else if (!follower->Start(*rotator, body, request.source, std::chrono::system_clock::now(), ticket, reason)) {
    request.answer(Answer(rotator->Available() ? 422 : 503, reason));
  } else {
    int bearing = 0;
    rotator->Target(bearing);
    Pending waiting;
    if (ticket != 0) waiting.tickets.emplace_back(rotator, ticket);
    waiting.body = "{\"rotator\":" + std::to_string(request.rotator) + ",\"follow\":\"" + BodyName(body) +
                   "\",\"bearing\":" + std::to_string(bearing) + "}";
    waiting.answer = std::move(request.answer);
    waiting.deadline = Clock::now() + kTakeWait;
    pending.push_back(std::move(waiting));
  }
}

void WebFront::Service(Clock::time_point now) {
  for (auto it = pending.begin(); it != pending.end();) {
    bool done = true;
    const StationRotator* gone = nullptr;
    for (const auto& ticket : it->tickets) {
      if (!ticket.first->Available()) gone = ticket.first;
      done = done && ticket.first->Done(ticket.second);
    }
    if (done) {
      it->answer({200, it->body});
    } else if (gone != nullptr) {
      it->answer(
          Answer(503, "rotator " + std::to_string(gone->Setup().id) + " went offline"));
    } else if (now >= it->deadline) {
      it->answer(Answer(504, "the daemon has not taken the command yet"));
    } else {
      ++it;
      continue;
    }
    it = pending.erase(it);
  }
  board.Publish(StateJson(now));
}

WebFront::Clock::time_point WebFront::NextDeadline() const {
  Clock::time_point next = nextChange;
  for (const Pending& waiting : pending) next = std::min(next, waiting.deadline);
  return next;
}

WebFront::Clock::duration WebFront::TurningWindow(const StationRotator& rotator) const {
  return std::max<Clock::duration>(kTurningMin,
                                   std::chrono::milliseconds(2 * rotator.Setup().pollMs + 500));
}

std::string WebFront::StationJson() const {
  if (options.placeName.empty()) return "null";
  return "{\"place\":" + JsonString(options.placeName) + ",\"latitude\":" + Degrees(options.place.latitude) +
         ",\"longitude\":" + Degrees(options.place.longitude) + "}";
}

std::string WebFront::FollowJson(const StationRotator& rotator) const {
  Body body = Body::Sun;
  if (follower == nullptr || !follower->Following(rotator, body)) return "null";
  return std::string("\"") + BodyName(body) + "\"";
}

// {"daemon":true,"secret":false,"presets":[{"name":"N","azimuth":0},...],
//  "station":{"place":"JO22ob","latitude":52.06,"longitude":5.21} (or null),
//  "rotators":[{"id":1,"name":"Yagi","offset":0,"model":"Yaesu GS-232",
//  "device":"/dev/ttyUSB0","min":0,"max":360,"state":"turning","bearing":123,
//  "target":200,"follow":"moon" (or null),"last":...},...]}
// name: "" when none; bearing and target are true bearings, min and max the
// box's own (offset: the true bearing of its 0).
// state: offline, unknown (never reported), unresponsive (a turn brought no
// movement: the box's controller is off?), turning, still or blind (a box
// that never reports; bearing is then the last one sent).
std::string WebFront::StateJson(Clock::time_point now) {
  nextChange = Clock::time_point::max();
  std::string json = "{\"version\":" + JsonString(zeva::kVersion) +
                     ",\"daemon\":" + (link.Up() ? "true" : "false") +
                     ",\"secret\":" + (options.secret.empty() ? "false" : "true") + ",\"presets\":[";
  for (size_t i = 0; i < options.presets.size(); ++i) {
    json += std::string(i ? "," : "") + "{\"name\":" + JsonString(options.presets[i].name) +
            ",\"azimuth\":" + Number(options.presets[i].azimuth) + "}";
  }
  json += "],\"station\":" + StationJson() + ",\"rotators\":[";
  for (size_t i = 0; i < rotators.size(); ++i) {
    const StationRotator& rotator = *rotators[i];
    const RotatorSetup& setup = rotator.Setup();
    int bearing = 0, target = 0;
    const bool known = rotator.Position(bearing);
    const char* state = "still";
    if (!rotator.Available()) {
      state = "offline";
    } else if (!rotator.HasFeedback()) {
      state = "blind";
    } else if (!known) {
      state = "unknown";
    } else if (rotator.Unresponsive()) {
      state = "unresponsive";
    } else if (rotator.MovedAt() + TurningWindow(rotator) > now) {
      state = "turning";
      nextChange = std::min(nextChange, rotator.MovedAt() + TurningWindow(rotator));
    }
    json += std::string(i ? "," : "") + "{\"id\":" + std::to_string(setup.id) +
            ",\"name\":" + JsonString(setup.name) + ",\"offset\":" + std::to_string(setup.offset) +
            ",\"model\":" + JsonString(StationOptions::ModelTitle(setup.model)) +
            ",\"device\":" + JsonString(setup.device) + ",\"port\":" +
            std::to_string(setup.listenPort) + ",\"min\":" + std::to_string(setup.minAz) +
            ",\"max\":" + std::to_string(setup.maxAz) + ",\"state\":\"" + state +
            "\",\"bearing\":" + (known ? std::to_string(bearing) : "null") + ",\"target\":" +
            (rotator.Target(target) ? std::to_string(target) : "null") +
            ",\"follow\":" + FollowJson(rotator) + ",\"last\":" + LastJson(rotator.LastCommand()) + "}";
  }
  return json + "]}";
}
