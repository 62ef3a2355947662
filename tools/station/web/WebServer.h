// The station page's HTTP server (cpp-httplib): the built-in page, the
// station's state as JSON and as a live event stream (Server-Sent Events),
// and the turn and stop requests, which go to the station's loop through the
// WebBoard.
//
// Defences, in the order a request meets them:
// - connections: at most kWorkers served at once and kWaiting more accepted
//   and waiting; further ones wait in the kernel's listen queue. Event
//   streams may take at most kMaxStreams workers, so requests always find
//   one. Reads and writes time out after 5 s: a stalled browser loses its
//   stream and holds nothing else;
// - requests over 1 KiB of body: 413; anything malformed: the library's 400;
// - on a loopback address, a Host header that names anything but this host
//   is refused (403): a foreign site that makes its name resolve to
//   127.0.0.1 cannot talk to the page;
// - turning and stopping (POST) from a page of another origin: 403;
// - with a secret (required off loopback): POST without it: 401.
//
// Owned by WebFront. Open, Start and Stop on the station's thread; the
// handlers run on the library's worker threads and touch only the
// WebBoard and constant settings.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/StationOptions.h"
#include "web/WebBoard.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class WebServer {
 public:
  static constexpr int kWorkers = 16;
  static constexpr int kWaiting = 16;
  static constexpr int kMaxStreams = 12;

  WebServer(const StationOptions& options, const std::string& secret, WebBoard& board);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address; false with the reason when it cannot.
  bool Open(std::string& error);
  // Serves on a thread of its own until Stop().
  void Start();
  // Ends every stream and connection and joins the server's threads.
  void Stop();

 private:
  bool Refused(const httplib::Request& request, httplib::Response& response) const;
  bool Allowed(const httplib::Request& request, httplib::Response& response) const;
  void Stream(httplib::Response& response);
  void Submit(WebRequest request, httplib::Response& response);

  const std::string address;
  const int port;
  const std::string secret;  // empty: no secret asked
  const bool loopback;       // bound to a loopback address
  WebBoard& board;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  std::atomic<int> streams{0};
};
