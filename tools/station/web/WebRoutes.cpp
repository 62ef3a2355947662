#include "web/WebRoutes.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "core/StationLog.h"

namespace {

// The page, built from web/page.html into the program.
#include "WebPage.inc"

HttpResponse Json(int status, const std::string& body) {
  HttpResponse response;
  response.status = status;
  response.body = body;
  return response;
}

// Same length and content, in a time that does not depend on where they
// differ.
bool SameSecret(const std::string& given, const std::string& secret) {
  unsigned char difference = given.size() == secret.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
  }
  return difference == 0;
}

// The host part of a Host header: "[::1]:8080" -> "::1", "a:80" -> "a".
std::string HostName(const std::string& host) {
  if (!host.empty() && host[0] == '[') {
    std::string::size_type end = host.find(']');
    return end == std::string::npos ? host : host.substr(1, end - 1);
  }
  return host.substr(0, host.find(':'));
}

bool ToNumber(const std::string& text, double& value) {
  char* end = nullptr;
  value = strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value) && std::fabs(value) < 1e6;
}

// The rotator a request names with rotator=NUMBER; false when it names none.
bool ReadRotator(const HttpRequest& request, int& rotator) {
  double id = 0;
  if (!ToNumber(request.Param("rotator"), id) || id != std::floor(id)) return false;
  rotator = static_cast<int>(id);
  return true;
}

// Who a turn or stop comes from: zeva-ctl says so in its User-Agent; any
// other client is a page (or a script using the page's API).
std::string Source(const HttpRequest& request) {
  const bool ctl = request.Header("User-Agent").rfind("zeva-ctl", 0) == 0;
  return (ctl ? "zeva-ctl " : "page ") + request.peer;
}

}  // namespace

// Every route the page answers; anything else is 404.
const WebRoutes::Route WebRoutes::kRoutes[] = {
    {"GET", "/", Access::View, &WebRoutes::Page},
    {"GET", "/api/state", Access::View, &WebRoutes::State},
    {"GET", "/api/events", Access::View, &WebRoutes::Events},
    {"POST", "/api/turn", Access::Command, &WebRoutes::Turn},
    {"POST", "/api/stop", Access::Command, &WebRoutes::Stop},
    {"GET", "/api/bearing", Access::View, &WebRoutes::Bearing},
    {"GET", "/api/sky", Access::View, &WebRoutes::Sky},
    {"GET", "/api/countries", Access::View, &WebRoutes::Countries},
    {"POST", "/api/aim", Access::Command, &WebRoutes::Aim},
    {"POST", "/api/follow", Access::Command, &WebRoutes::Follow},
};

WebRoutes::WebRoutes(const StationOptions& options, const std::string& secret, WebBoard& board,
                     const PlaceApi& places)
    : secret(secret), loopback(IsLoopbackAddress(options.httpAddress)), board(board), places(places) {}

void WebRoutes::Handle(const HttpRequest& request, const HttpReply& reply) const {
  for (const Route& route : kRoutes) {
    if (request.method != route.method || request.path != route.path) continue;
    HttpResponse refusal;
    if (Refused(request, route, refusal)) {
      reply.Send(refusal);
    } else {
      (this->*route.handler)(request, reply);
    }
    return;
  }
  HttpResponse refusal;
  const Route none = {"", "", Access::View, nullptr};
  reply.Send(Refused(request, none, refusal) ? refusal : HttpResponse::Error(404, "no such page"));
}

bool WebRoutes::Refused(const HttpRequest& request, const Route& route, HttpResponse& refusal) const {
  // On loopback the page answers only to names of this host, so that a site
  // whose name is made to resolve to 127.0.0.1 cannot use it (DNS
  // rebinding; browsers always send Host). Off loopback the secret guards
  // turning.
  const std::string host = request.Header("Host");
  if (loopback) {
    const std::string name = HostName(host);
    if (!name.empty() && name != "localhost" && !IsLoopbackAddress(name)) {
      refusal = HttpResponse::Error(403, "this page answers only to localhost and loopback addresses");
      return true;
    }
  }
  if (route.access == Access::View) return false;
  // Browsers name the page a request comes from; only this page may turn.
  // Programs that send no Origin (curl, scripts) are not browsers a foreign
  // page could use.
  const std::string origin = request.Header("Origin");
  if (!origin.empty() && origin != "http://" + host && origin != "https://" + host) {
    StationLog("web: refused a request from the page of %s", origin.c_str());
    refusal = HttpResponse::Error(403, "requests from other sites cannot turn the antennas");
    return true;
  }
  if (request.Header("Sec-Fetch-Site") == "cross-site") {
    refusal = HttpResponse::Error(403, "requests from other sites cannot turn the antennas");
    return true;
  }
  if (!secret.empty()) {
    const std::string authorization = request.Header("Authorization");
    const std::string prefix = "Bearer ";
    if (authorization.compare(0, prefix.size(), prefix) != 0 ||
        !SameSecret(authorization.substr(prefix.size()), secret)) {
      StationLog("web: refused a request from %s without the right secret", request.peer.c_str());
      refusal = HttpResponse::Error(401, "the station's secret is needed to turn");
      refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"zeva\"");
      return true;
    }
  }
  return false;
}

void WebRoutes::Page(const HttpRequest&, const HttpReply& reply) const {
  HttpResponse page;
  page.contentType = "text/html; charset=utf-8";
  page.body.assign(kWebPage, sizeof kWebPage - 1);
  page.headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src "
       "'self'; img-src data:; frame-ancestors 'none'; form-action 'none'; base-uri 'none'"},
      {"Referrer-Policy", "no-referrer"},
  };
  reply.Send(page);
}

void WebRoutes::State(const HttpRequest&, const HttpReply& reply) const {
  std::string json;
  board.Latest(json);
  reply.Send(Json(200, json));
}

void WebRoutes::Events(const HttpRequest&, const HttpReply& reply) const {
  HttpResponse stream;
  stream.events = true;
  stream.contentType = "text/event-stream";
  stream.headers = {{"Cache-Control", "no-store"}};
  reply.Send(stream);
}

void WebRoutes::Turn(const HttpRequest& request, const HttpReply& reply) const {
  WebRequest turn;
  turn.kind = WebRequest::Kind::Turn;
  if (!ReadRotator(request, turn.rotator) || !ToNumber(request.Param("bearing"), turn.azimuth)) {
    reply.Send(HttpResponse::Error(400, "give rotator=NUMBER and bearing=DEGREES"));
    return;
  }
  turn.source = Source(request);
  Submit(std::move(turn), reply);
}

void WebRoutes::Stop(const HttpRequest& request, const HttpReply& reply) const {
  WebRequest stop;
  stop.rotator = 0;  // every rotator
  if (request.Param("rotator") != "all" && (!ReadRotator(request, stop.rotator) || stop.rotator == 0)) {
    reply.Send(HttpResponse::Error(400, "give rotator=NUMBER or rotator=all"));
    return;
  }
  stop.source = Source(request);
  Submit(std::move(stop), reply);
}

void WebRoutes::Bearing(const HttpRequest& request, const HttpReply& reply) const {
  const WebReply answer = places.Bearing(request.Param("to"));
  reply.Send(Json(answer.status, answer.body));
}

void WebRoutes::Sky(const HttpRequest&, const HttpReply& reply) const {
  const WebReply answer = places.Sky(std::chrono::system_clock::now());
  reply.Send(Json(answer.status, answer.body));
}

void WebRoutes::Countries(const HttpRequest&, const HttpReply& reply) const {
  reply.Send(Json(places.Countries().status, places.Countries().body));
}

void WebRoutes::Aim(const HttpRequest& request, const HttpReply& reply) const {
  WebRequest turn;
  turn.kind = WebRequest::Kind::Turn;
  const std::string path = request.Param("path");
  if (!ReadRotator(request, turn.rotator) || (path != "" && path != "short" && path != "long")) {
    reply.Send(HttpResponse::Error(400, "give rotator=NUMBER, to=PLACE and path=short or path=long"));
    return;
  }
  std::string reason;
  if (!places.Aim(request.Param("to"), path == "long", turn.azimuth, turn.place, reason)) {
    reply.Send(HttpResponse::Error(404, reason));
    return;
  }
  turn.source = Source(request);
  Submit(std::move(turn), reply);
}

void WebRoutes::Follow(const HttpRequest& request, const HttpReply& reply) const {
  WebRequest follow;
  follow.kind = WebRequest::Kind::Follow;
  follow.body = request.Param("body");
  if (!ReadRotator(request, follow.rotator) || (follow.body != "sun" && follow.body != "moon")) {
    reply.Send(HttpResponse::Error(400, "give rotator=NUMBER and body=sun or body=moon"));
    return;
  }
  follow.source = Source(request);
  Submit(std::move(follow), reply);
}

void WebRoutes::Submit(WebRequest request, const HttpReply& reply) const {
  request.answer = [reply](WebReply answer) { reply.Send(Json(answer.status, answer.body)); };
  board.Submit(std::move(request));
}
