#include "web/HttpServer.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/ServerSocket.h"

namespace {

// Connections waiting for accept() beyond those being served.
constexpr int kBacklog = 1024;
// The buffer the library offers a stream's reader, per write.
constexpr size_t kStreamBlock = 1024;
// The kernel's send buffer of an event stream: fixed (no growth up to
// megabytes for a reader that stopped), so that a stalled page's stream
// fills up and times out within seconds of news.
constexpr int kStreamSendBuffer = 32 * 1024;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string PeerAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "?";
  const sockaddr* address = info->client_addr;
  const socklen_t length =
      address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  char host[NI_MAXHOST];
  if (getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "?";
  return host;
}

}  // namespace

// One request on its way: what the routes were given, the answer once there
// is one, and for an event stream what it has still to send.
class HttpServer::Exchange : public HttpReply::Channel,
                             public std::enable_shared_from_this<Exchange> {
 public:
  Exchange(HttpServer& server, MHD_Connection* connection)
      : server(server), connection(connection) {}
  ~Exchange() override { EndForm(); }

  // HttpReply::Channel; any thread.
  void Send(HttpResponse response) override {
    bool resume = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (answered || closed) return;
      answered = true;
      answer = std::move(response);
      resume = suspended;
      suspended = false;
    }
    // Only here, once: the connection stays suspended, so alive, until then.
    if (resume) MHD_resume_connection(connection);
  }

  // The library's thread from here on.

  // The headers are in: reads the request, refuses what breaks the limits.
  MHD_Result Begin(const char* url, const char* method) {
    request.method = strcmp(method, MHD_HTTP_METHOD_HEAD) == 0 ? MHD_HTTP_METHOD_GET : method;
    request.path = url;
    request.peer = PeerAddress(connection);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &Exchange::AddHeader, &request);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &Exchange::AddParam, &request);
    std::string length;
    for (const auto& header : request.headers) {
      if (header.first != "content-length") continue;
      if (!length.empty() && header.second != length) {
        return Queue(HttpResponse::Error(400, "two different Content-Length headers"));
      }
      length = header.second;
    }
    if (!length.empty() && strtoull(length.c_str(), nullptr, 10) > kMaxBody) {
      return Queue(HttpResponse::Error(413, "requests carry at most 1 KiB"));
    }
    // Null unless the body is a form.
    form = MHD_create_post_processor(connection, kMaxBody, &Exchange::AddField, &request);
    return MHD_YES;
  }

  // A piece of the body.
  MHD_Result Take(const char* data, size_t size) {
    body += size;
    if (body > kMaxBody) return MHD_NO;  // a chunked body beyond the bound: close
    if (form != nullptr) MHD_post_process(form, data, size);
    return MHD_YES;
  }

  // The request is complete (or, later, resumed with its answer): hands it
  // to the routes once, then sends the answer or waits for it.
  MHD_Result Finish() {
    if (!handled) {
      handled = true;
      EndForm();
      server.handler(request, HttpReply(shared_from_this()));
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (!answered) {
      std::lock_guard<std::mutex> serverLock(server.mutex);
      if (!server.stopping) {
        suspended = true;
        auto& waiting = server.waitingAnswers;
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                     [](const std::weak_ptr<Exchange>& e) { return e.expired(); }),
                      waiting.end());
        waiting.push_back(shared_from_this());
        MHD_suspend_connection(connection);
        return MHD_YES;
      }
      answered = true;
      answer = HttpResponse::Error(503, "the station is stopping");
    }
    lock.unlock();
    return Queue(answer);
  }

  // The request is over: a later Send finds nobody to answer.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
  }

  // The event stream's reader: the bytes of the current event, then the
  // next event; with nothing new, the stream waits suspended.
  ssize_t ReadStream(char* buffer, size_t max) {
    if (sent == event.Size()) {
      event = StreamEvent();
      sent = 0;
      const Clock::time_point now = Clock::now();
      std::lock_guard<std::mutex> lock(server.mutex);
      if (server.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
      std::shared_ptr<const std::string> json;
      const uint64_t number = server.board.Latest(json);
      if (first || number != seen) {
        // The browser reconnects one second after the stream breaks.
        event.head = first ? "retry: 1000\ndata: " : "data: ";
        event.json = json;
        first = false;
        seen = number;
      } else if (now >= lastEvent + server.streamIdle) {
        // Nothing new for a while: a comment, so that a gone browser is
        // noticed and proxies keep the connection.
        event.head = ": idle\n\n";
      } else {
        idleAt = lastEvent + server.streamIdle;
        server.waitingStreams.push_back(shared_from_this());
        if (idleAt < server.wakeAt) {
          server.wakeAt = idleAt;
          server.sooner = true;
          server.wakerCall.notify_one();
        }
        MHD_suspend_connection(connection);
        return 0;
      }
      lastEvent = now;
    }
    const size_t n = event.Copy(sent, buffer, max);
    sent += n;
    return static_cast<ssize_t>(n);
  }

  HttpServer& server;
  MHD_Connection* const connection;
  Clock::time_point idleAt;  // waiting for news: when the idle comment is due (server.mutex)

 private:
  MHD_Result Queue(const HttpResponse& response) {
    MHD_Response* reply =
        response.events
            ? MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &Exchange::Read,
                                                this, nullptr)
            : MHD_create_response_from_buffer(response.body.size(),
                                              const_cast<char*>(response.body.data()),
                                              MHD_RESPMEM_MUST_COPY);
    if (reply == nullptr) return MHD_NO;
    if (response.events) {
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      if (info != nullptr) {
        setsockopt(info->connect_fd, SOL_SOCKET, SO_SNDBUF, &kStreamSendBuffer,
                   sizeof kStreamSendBuffer);
      }
    }
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    for (const auto& header : response.headers) {
      MHD_add_response_header(reply, header.first.c_str(), header.second.c_str());
    }
    const MHD_Result queued = MHD_queue_response(connection, response.status, reply);
    MHD_destroy_response(reply);
    return queued;
  }

  void EndForm() {
    if (form != nullptr) MHD_destroy_post_processor(form);
    form = nullptr;
  }

  static MHD_Result AddHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
    static_cast<HttpRequest*>(cls)->headers.emplace_back(Lower(key), value ? value : "");
    return MHD_YES;
  }

  static MHD_Result AddParam(void* cls, MHD_ValueKind, const char* key, const char* value) {
    static_cast<HttpRequest*>(cls)->params.emplace(key, value ? value : "");
    return MHD_YES;
  }

  // A form field, in pieces; a name given before (in the query too) keeps
  // its first value.
  static MHD_Result AddField(void* cls, MHD_ValueKind, const char* key, const char*, const char*,
                             const char*, const char* data, uint64_t offset, size_t size) {
    auto& params = static_cast<HttpRequest*>(cls)->params;
    if (offset == 0) {
      if (!params.emplace(key, std::string(data, size)).second) return MHD_YES;
    } else {
      params[key].append(data, size);
    }
    return MHD_YES;
  }

  static ssize_t Read(void* cls, uint64_t, char* buffer, size_t max) {
    return static_cast<Exchange*>(cls)->ReadStream(buffer, max);
  }

  HttpRequest request;
  size_t body = 0;                    // bytes of body so far
  MHD_PostProcessor* form = nullptr;  // parses a form-encoded body
  bool handled = false;               // the routes have the request

  std::mutex mutex;
  bool answered = false;   // guarded by mutex
  bool closed = false;     // guarded by mutex
  bool suspended = false;  // guarded by mutex: waiting for Send
  HttpResponse answer;     // guarded by mutex until answered

  // The event stream.
  StreamEvent event;  // the event being sent
  size_t sent = 0;   // how much of it has gone
  bool first = true;
  uint64_t seen = 0;    // the number of the state last sent
  Clock::time_point lastEvent = Clock::now();
};

// The library's callbacks, on its thread.
struct HttpServer::Callbacks {
  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char* upload,
                           size_t* uploadSize, void** context) {
    if (*context == nullptr) {
      auto exchange = std::make_shared<Exchange>(*static_cast<HttpServer*>(cls), connection);
      *context = new std::shared_ptr<Exchange>(exchange);
      return exchange->Begin(url, method);
    }
    Exchange& exchange = **static_cast<std::shared_ptr<Exchange>*>(*context);
    if (*uploadSize != 0) {
      const MHD_Result taken = exchange.Take(upload, *uploadSize);
      *uploadSize = 0;
      return taken;
    }
    return exchange.Finish();
  }

  static void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    auto* exchange = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (exchange == nullptr) return;
    (*exchange)->Close();
    delete exchange;
    *context = nullptr;
  }
};

HttpServer::HttpServer(WebBoard& board, Handler handler, Clock::duration streamIdle)
    : board(board), handler(std::move(handler)), streamIdle(streamIdle) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Open(const std::string& address, int port, unsigned connections,
                      std::string& error) {
  const std::string where = "the web page on " + address + " port " + std::to_string(port);
  const ServerSocket socket = OpenServerSocket(address, port, SOCK_STREAM, kBacklog);
  if (socket.fd < 0) {
    error = "cannot open " + where + ": " + socket.reason;
    return false;
  }
  const int fd = socket.fd;

  board.Subscribe([this] { Wake(); });
  waker = std::thread([this] { RunWaker(); });
  daemon = MHD_start_daemon(
      MHD_USE_POLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr,
      &Callbacks::Access, this, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
      connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMemoryPerConnection,
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_NOTIFY_COMPLETED,
      &Callbacks::Completed, this, MHD_OPTION_END);
  if (daemon == nullptr) {
    close(fd);
    Stop();
    error = "cannot start " + where + " (libmicrohttpd refused)";
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  std::vector<std::weak_ptr<Exchange>> answers;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    answers.swap(waitingAnswers);
  }
  wakerCall.notify_all();
  board.Subscribe(nullptr);
  // Every suspended connection is resumed before the library stops.
  for (auto& waiting : answers) {
    if (auto exchange = waiting.lock()) {
      exchange->Send(HttpResponse::Error(503, "the station is stopping"));
    }
  }
  if (waker.joinable()) waker.join();
  if (daemon != nullptr) MHD_stop_daemon(daemon);
  daemon = nullptr;
}

void HttpServer::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    news = true;
  }
  wakerCall.notify_one();
}

void HttpServer::RunWaker() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    Clock::time_point due = Clock::time_point::max();
    for (const auto& stream : waitingStreams) due = std::min(due, stream->idleAt);
    wakeAt = due;
    const auto called = [this] { return news || stopping || sooner; };
    if (due == Clock::time_point::max()) {
      wakerCall.wait(lock, called);
    } else {
      wakerCall.wait_until(lock, due, called);
    }
    sooner = false;
    std::vector<std::shared_ptr<Exchange>> resume;
    if (news || stopping) {
      resume.swap(waitingStreams);
      news = false;
    } else {
      const Clock::time_point now = Clock::now();
      auto idle = std::partition(waitingStreams.begin(), waitingStreams.end(),
                                 [now](const std::shared_ptr<Exchange>& s) { return s->idleAt > now; });
      resume.assign(idle, waitingStreams.end());
      waitingStreams.erase(idle, waitingStreams.end());
    }
    const bool last = stopping;
    lock.unlock();
    for (const auto& stream : resume) MHD_resume_connection(stream->connection);
    resume.clear();
    lock.lock();
    if (last) return;  // streams no longer wait once the server stops
  }
}
