#include "web/WebBoard.h"

#include <chrono>

void WebBoard::Publish(const std::string& json) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (json == state) return;
    state = json;
    ++number;
  }
  changed.notify_all();
}

uint64_t WebBoard::Latest(std::string& json) const {
  std::lock_guard<std::mutex> lock(mutex);
  json = state;
  return number;
}

bool WebBoard::WaitNewer(uint64_t& seen, std::string& json, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                   [&] { return closed || number != seen; });
  if (closed || number == seen) return false;
  seen = number;
  json = state;
  return true;
}

void WebBoard::Close() {
  std::vector<WebRequest> unanswered;
  {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    unanswered.swap(requests);
  }
  changed.notify_all();
  for (WebRequest& request : unanswered) {
    request.reply.set_value({503, R"({"error":"the station is stopping"})"});
  }
}

bool WebBoard::Closed() const {
  std::lock_guard<std::mutex> lock(mutex);
  return closed;
}

std::future<WebReply> WebBoard::Submit(WebRequest request) {
  std::future<WebReply> reply = request.reply.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) {
      request.reply.set_value({503, R"({"error":"the station is stopping"})"});
      return reply;
    }
    requests.push_back(std::move(request));
  }
  wake.Wake();
  return reply;
}

std::vector<WebRequest> WebBoard::TakeRequests() {
  wake.Drain();
  std::vector<WebRequest> taken;
  std::lock_guard<std::mutex> lock(mutex);
  taken.swap(requests);
  return taken;
}
