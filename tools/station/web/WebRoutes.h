// What the station page's server answers: the route table (method and path
// to handler) and the rules every request meets before its handler:
// - on a loopback address, a Host header that names anything but this host
//   is refused (403): a foreign site that makes its name resolve to
//   127.0.0.1 cannot talk to the page;
// - routes that turn or stop (Access::Command): a request from a page of
//   another origin is refused (403), and with a secret (required off
//   loopback) one without it too (401).
// Requests come as plain HttpRequests (HttpMessage.h): a route is added by
// a line in the table and a handler, without knowing the HTTP library.
// A handler answers through its HttpReply at once (it runs on the server's
// thread: it must not block, so it reads only constant or thread-safe data)
// or hands the reply to the station's loop through the WebBoard.
//
// Owned by WebFront; Handle runs on the server's thread. The board and the
// options outlive it.
#pragma once

#include <string>

#include "core/StationOptions.h"
#include "web/HttpMessage.h"
#include "web/WebBoard.h"

class WebRoutes {
 public:
  WebRoutes(const StationOptions& options, const std::string& secret, WebBoard& board);

  void Handle(const HttpRequest& request, const HttpReply& reply) const;

 private:
  enum class Access {
    View,     // anyone who reaches the page
    Command,  // turns or stops: this page's origin, and the secret if there is one
  };
  using Handler = void (WebRoutes::*)(const HttpRequest&, const HttpReply&) const;
  struct Route {
    const char* method;
    const char* path;
    Access access;
    Handler handler;
  };
  static const Route kRoutes[];

  // Route handlers.
  void Page(const HttpRequest& request, const HttpReply& reply) const;
  void State(const HttpRequest& request, const HttpReply& reply) const;
  void Events(const HttpRequest& request, const HttpReply& reply) const;
  void Turn(const HttpRequest& request, const HttpReply& reply) const;
  void Stop(const HttpRequest& request, const HttpReply& reply) const;

  // The reason to refuse the request (its answer), or false.
  bool Refused(const HttpRequest& request, const Route& route, HttpResponse& refusal) const;
  // Hands a turn or stop to the station's loop; its answer goes to `reply`.
  void Submit(WebRequest request, const HttpReply& reply) const;

  const std::string secret;  // empty: no secret asked
  const bool loopback;       // the page listens on a loopback address
  WebBoard& board;
};
