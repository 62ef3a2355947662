#include "web/WebServer.h"

#include <httplib.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>

#include "core/StationLog.h"

namespace {

// The page, built from web/page.html into the program.
#include "WebPage.inc"

constexpr size_t kMaxBody = 1024;
constexpr int kTimeoutSeconds = 5;
// An idle kept-alive connection holds its worker this long at most.
constexpr int kKeepAliveSeconds = 2;
// A stream with nothing new says so this often, so that a gone browser is
// noticed and proxies keep the connection.
constexpr int kStreamIdleMs = 15000;
// A turn or stop the station's loop has not answered by then is a 504 (the
// loop answers itself within 2 s).
constexpr auto kReplyWait = std::chrono::seconds(3);

// cpp-httplib's task queue with a bound: kWorkers threads serve, kWaiting
// accepted connections may wait for one; beyond that the accepting thread
// waits too, and new connections stay in the kernel's listen queue.
class BoundedPool : public httplib::TaskQueue {
 public:
  BoundedPool(size_t workers, size_t waiting) : waiting(waiting) {
    for (size_t i = 0; i < workers; ++i) threads.emplace_back([this] { Work(); });
  }

  void enqueue(std::function<void()> job) override {
    std::unique_lock<std::mutex> lock(mutex);
    room.wait(lock, [this] { return stopping || jobs.size() < waiting; });
    if (stopping) {
      lock.unlock();
      job();  // the server is stopping: the job only closes its connection
      return;
    }
    jobs.push_back(std::move(job));
    ready.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    ready.notify_all();
    room.notify_all();
    for (std::thread& thread : threads) thread.join();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty()) return;  // stopping, nothing left
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      room.notify_one();
      job();
    }
  }

  const size_t waiting;
  std::mutex mutex;
  std::condition_variable ready;  // a job or the stop
  std::condition_variable room;   // a place in `jobs`
  std::deque<std::function<void()>> jobs;
  bool stopping = false;
  std::vector<std::thread> threads;
};

// One of the kMaxStreams places, given back when the stream's provider is
// destroyed (however the stream ended).
class StreamSlot {
 public:
  explicit StreamSlot(std::atomic<int>& count) : count(count) {}
  ~StreamSlot() { --count; }
  StreamSlot(const StreamSlot&) = delete;
  StreamSlot& operator=(const StreamSlot&) = delete;
  bool first = true;  // the stream has not sent the state yet
  uint64_t seen = 0;  // the number of the state last sent

 private:
  std::atomic<int>& count;
};

void Json(httplib::Response& response, int status, const std::string& body) {
  response.status = status;
  response.set_content(body, "application/json");
}

void Error(httplib::Response& response, int status, const std::string& message) {
  Json(response, status, "{\"error\":\"" + message + "\"}");
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

// Who a turn or stop comes from: zeva-ctl says so in its User-Agent; any
// other client is a page (or a script using the page's API).
std::string Source(const httplib::Request& request) {
  const bool ctl = request.get_header_value("User-Agent").rfind("zeva-ctl", 0) == 0;
  return (ctl ? "zeva-ctl " : "page ") + request.remote_addr;
}

}  // namespace

WebServer::WebServer(const StationOptions& options, const std::string& secret, WebBoard& board)
    : address(options.httpAddress),
      port(options.httpPort),
      secret(secret),
      loopback(IsLoopbackAddress(options.httpAddress)),
      board(board),
      server(std::make_unique<httplib::Server>()) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Open(std::string& error) {
  httplib::Server& s = *server;
  s.new_task_queue = [] { return new BoundedPool(kWorkers, kWaiting); };
  s.set_read_timeout(kTimeoutSeconds, 0);
  s.set_write_timeout(kTimeoutSeconds, 0);
  s.set_keep_alive_timeout(kKeepAliveSeconds);
  s.set_payload_max_length(kMaxBody);
  s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    return Refused(request, response) ? httplib::Server::HandlerResponse::Handled
                                      : httplib::Server::HandlerResponse::Unhandled;
  });
  s.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) Error(response, response.status, "request refused");
  });

  s.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; script-src 'unsafe-inline'; style-src "
                        "'unsafe-inline'; connect-src 'self'; img-src data:; "
                        "frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_content(kWebPage, sizeof kWebPage - 1, "text/html; charset=utf-8");
  });
  s.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
    std::string json;
    board.Latest(json);
    Json(response, 200, json);
  });
  s.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    Stream(response);
  });
  s.Post("/api/turn", [this](const httplib::Request& request, httplib::Response& response) {
    if (!Allowed(request, response)) return;
    WebRequest turn;
    turn.kind = WebRequest::Kind::Turn;
    double id = 0;
    if (!ToNumber(request.get_param_value("rotator"), id) || id != std::floor(id) ||
        !ToNumber(request.get_param_value("bearing"), turn.azimuth)) {
      Error(response, 400, "give rotator=NUMBER and bearing=DEGREES");
      return;
    }
    turn.rotator = static_cast<int>(id);
    turn.source = Source(request);
    Submit(std::move(turn), response);
  });
  s.Post("/api/stop", [this](const httplib::Request& request, httplib::Response& response) {
    if (!Allowed(request, response)) return;
    WebRequest stop;
    const std::string which = request.get_param_value("rotator");
    double id = 0;
    if (which != "all" && (!ToNumber(which, id) || id != std::floor(id) || id == 0)) {
      Error(response, 400, "give rotator=NUMBER or rotator=all");
      return;
    }
    stop.rotator = static_cast<int>(id);
    stop.source = Source(request);
    Submit(std::move(stop), response);
  });

  if (!s.bind_to_port(address.c_str(), port)) {
    error = "cannot open the web page on " + address + " port " + std::to_string(port) +
            " (in use, or not an address of this host)";
    return false;
  }
  return true;
}

void WebServer::Start() {
  thread = std::thread([this] { server->listen_after_bind(); });
  StationLog("web page on http://%s%s%s:%d/%s", address.find(':') != std::string::npos ? "[" : "",
            address.c_str(), address.find(':') != std::string::npos ? "]" : "", port,
            secret.empty() ? "" : " (turning needs the secret)");
}

void WebServer::Stop() {
  if (!server) return;
  board.Close();  // ends every stream's wait
  server->stop();
  if (thread.joinable()) thread.join();
  server.reset();
}

bool WebServer::Refused(const httplib::Request& request, httplib::Response& response) const {
  // Said before the body is read, so that a sender of a huge body is not
  // waited for.
  if (request.get_header_value<uint64_t>("Content-Length") > kMaxBody) {
    response.set_header("Connection", "close");
    Error(response, 413, "requests carry at most 1 KiB");
    return true;
  }
  // On loopback the page answers only to names of this host, so that a site
  // whose name is made to resolve to 127.0.0.1 cannot use it (DNS
  // rebinding; browsers always send Host). Off loopback the secret guards
  // turning.
  if (loopback) {
    const std::string host = HostName(request.get_header_value("Host"));
    if (!host.empty() && host != "localhost" && !IsLoopbackAddress(host)) {
      Error(response, 403, "this page answers only to localhost and loopback addresses");
      return true;
    }
  }
  return false;
}

bool WebServer::Allowed(const httplib::Request& request, httplib::Response& response) const {
  // Browsers name the page a request comes from; only this page may turn.
  // Programs that send no Origin (curl, scripts) are not browsers a foreign
  // page could use.
  const std::string origin = request.get_header_value("Origin");
  const std::string host = request.get_header_value("Host");
  if (!origin.empty() && origin != "http://" + host && origin != "https://" + host) {
    StationLog("web: refused a request from the page of %s", origin.c_str());
    Error(response, 403, "requests from other sites cannot turn the antennas");
    return false;
  }
  if (request.get_header_value("Sec-Fetch-Site") == "cross-site") {
    Error(response, 403, "requests from other sites cannot turn the antennas");
    return false;
  }
  if (!secret.empty()) {
    const std::string authorization = request.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (authorization.compare(0, prefix.size(), prefix) != 0 ||
        !SameSecret(authorization.substr(prefix.size()), secret)) {
      StationLog("web: refused a request from %s without the right secret",
                request.remote_addr.c_str());
      response.set_header("WWW-Authenticate", "Bearer realm=\"zeva\"");
      Error(response, 401, "the station's secret is needed to turn");
      return false;
    }
  }
  return true;
}

void WebServer::Stream(httplib::Response& response) {
  if (++streams > kMaxStreams) {
    --streams;
    Error(response, 503, "too many pages are open");
    return;
  }
  auto slot = std::make_shared<StreamSlot>(streams);
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider(
      "text/event-stream", [this, slot](size_t, httplib::DataSink& sink) {
        std::string json, event;
        if (slot->first) {
          slot->first = false;
          slot->seen = board.Latest(json);
          // The browser reconnects one second after the stream breaks.
          event = "retry: 1000\ndata: " + json + "\n\n";
        } else if (board.WaitNewer(slot->seen, json, kStreamIdleMs)) {
          event = "data: " + json + "\n\n";
        } else if (board.Closed()) {
          return false;
        } else {
          event = ": idle\n\n";
        }
        return sink.write(event.data(), event.size());
      });
}

void WebServer::Submit(WebRequest request, httplib::Response& response) {
  std::future<WebReply> future = board.Submit(std::move(request));
  if (future.wait_for(kReplyWait) != std::future_status::ready) {
    Error(response, 504, "the station did not answer in time");
    return;
  }
  WebReply reply = future.get();
  Json(response, reply.status, reply.body);
}
