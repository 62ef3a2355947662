// An HTTP request as the station's routes see it, the answer they give,
// and the handle through which they give it: plain values, no HTTP library
// in sight, so that a route is written without knowing how requests arrive.
//
// HttpServer builds each HttpRequest on its own thread and hands it to the
// routes with an HttpReply. A route answers through the reply at once (on
// that thread: it must not block) or later from any thread (the station's
// loop answers turns that way); the connection waits meanwhile without
// holding up anything else.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
  std::string method;  // "GET", "POST" ("HEAD" is served as "GET")
  std::string path;    // without the query: "/api/turn"
  // The query's fields and, for a form-encoded POST, the body's, decoded;
  // a field given twice keeps its first value.
  std::map<std::string, std::string> params;
  std::string peer;  // the client's address: "127.0.0.1", "::1"
  // The header lines, names in lower case, in the order received.
  std::vector<std::pair<std::string, std::string>> headers;

  // A field's value; empty when absent.
  std::string Param(const std::string& name) const;
  // The first header of that name (any case); empty when absent.
  std::string Header(const std::string& name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // added to the usual ones
  // Instead of the body: the station's state as a live event stream
  // (Server-Sent Events): the state now, then each new one, until the
  // client goes or the server stops.
  bool events = false;

  // {"error":"MESSAGE"}
  static HttpResponse Error(int status, const std::string& message);
};

// Answers one request: the first Send counts, later ones are ignored, as is
// a Send after the client has gone. Copyable; any thread.
class HttpReply {
 public:
  class Channel {
   public:
    virtual ~Channel() = default;
    virtual void Send(HttpResponse response) = 0;
  };

  explicit HttpReply(std::shared_ptr<Channel> channel) : channel(std::move(channel)) {}
  void Send(HttpResponse response) const { channel->Send(std::move(response)); }

 private:
  std::shared_ptr<Channel> channel;
};

// One event of the stream as it goes out: `head` ("data: "), then the
// state and a blank line if there is one; the state's text is shared with
// every stream. The library asks for it in pieces of whatever size its
// buffers have room for. A plain value, used by one connection's thread.
struct StreamEvent {
  std::string head;
  std::shared_ptr<const std::string> json;

  size_t Size() const { return head.size() + (json ? json->size() + 2 : 0); }
  // Copies up to `max` bytes from `offset` on into `out`; returns how many.
  size_t Copy(size_t offset, char* out, size_t max) const {
    size_t n = 0;
    const auto part = [&](const char* data, size_t size) {
      if (offset >= size) {
        offset -= size;
        return;
      }
      const size_t take = std::min(size - offset, max - n);
      memcpy(out + n, data + offset, take);
      n += take;
      offset = 0;
    };
    part(head.data(), head.size());
    if (json) {
      part(json->data(), json->size());
      part("\n\n", 2);
    }
    return n;
  }
};
