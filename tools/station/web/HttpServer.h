// The station page's HTTP server, on libmicrohttpd: the one file that knows
// the library. One thread of the library's polls every connection, so a
// slow or stalled client holds a connection and a little memory, never a
// thread; each request goes to the routes as a plain HttpRequest.
//
// What it bounds, before any route sees a request:
// - connections: at most the number given to Open at once (further ones
//   are closed as they come); each has kMemoryPerConnection bytes for its
//   request line and headers (more is answered 431 and closed) and what it
//   sends, so 1,100 connections full of headers cost about 11 MB;
// - bodies: at most kMaxBody bytes (413); two Content-Length headers that
//   differ: 400; anything else malformed: the library's 400;
// - time: a connection that neither sends nor takes a byte for
//   kIdleSeconds is closed (a page that stopped reading its event stream
//   among them); a connection waiting for its answer or for news on its
//   stream costs no time and no thread.
//
// Event streams and answers that come later wait as suspended connections:
// a thread of the server's own (the waker) resumes the streams when the
// WebBoard publishes a new state, and with a comment line after 15 s
// without one (the stream's idle period), so that a gone browser is
// noticed; HttpReply::Send resumes a waiting answer.
//
// Owned by WebFront. Open and Stop on the station's thread; the routes'
// handler runs on the library's thread; HttpReply::Send on any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/HttpMessage.h"
#include "web/WebBoard.h"

struct MHD_Daemon;

class HttpServer {
 public:
  using Clock = std::chrono::steady_clock;
  using Handler = std::function<void(const HttpRequest&, const HttpReply&)>;

  static constexpr size_t kMaxBody = 1024;
  static constexpr size_t kMemoryPerConnection = 8192;
  static constexpr unsigned kIdleSeconds = 30;
  static constexpr auto kStreamIdle = std::chrono::seconds(15);

  HttpServer(WebBoard& board, Handler handler, Clock::duration streamIdle = kStreamIdle);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds address:port and starts serving, with at most `connections`
  // connections at once; false with the reason when it cannot.
  bool Open(const std::string& address, int port, unsigned connections, std::string& error);
  // Answers every waiting request 503, ends every stream and connection and
  // joins the server's threads.
  void Stop();

 private:
  class Exchange;
  friend class Exchange;
  struct Callbacks;

  void Wake();
  void RunWaker();

  WebBoard& board;
  const Handler handler;
  const Clock::duration streamIdle;  // an event stream's idle comment comes after this
  MHD_Daemon* daemon = nullptr;
  std::thread waker;

  std::mutex mutex;
  std::condition_variable wakerCall;
  bool stopping = false;  // guarded by mutex
  bool news = false;      // guarded by mutex: the board has a newer state
  // Guarded by mutex: when the waker next looks for streams whose idle
  // comment is due (max: only on news), and whether a stream that waits
  // now needs it to look sooner.
  Clock::time_point wakeAt = Clock::time_point::max();
  bool sooner = false;
  // Streams suspended until news (or their idle comment is due), and
  // requests suspended until answered; guarded by mutex.
  std::vector<std::shared_ptr<Exchange>> waitingStreams;
  std::vector<std::weak_ptr<Exchange>> waitingAnswers;
};
