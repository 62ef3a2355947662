#include "web/WebBoard.h"

#include <utility>

#include "web/Json.h"

namespace {

WebReply Stopping() { return {503, JsonError("the station is stopping")}; }

}  // namespace

void WebBoard::Publish(const std::string& json) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (json == *state) return;
    state = std::make_shared<const std::string>(json);
    ++number;
  }
  if (subscriber) subscriber();
}

uint64_t WebBoard::Latest(std::string& json) const {
  std::lock_guard<std::mutex> lock(mutex);
  json = *state;
  return number;
}

uint64_t WebBoard::Latest(std::shared_ptr<const std::string>& json) const {
  std::lock_guard<std::mutex> lock(mutex);
  json = state;
  return number;
}

void WebBoard::Subscribe(std::function<void()> newSubscriber) {
  subscriber = std::move(newSubscriber);
}

void WebBoard::Close() {
  std::vector<WebRequest> unanswered;
  {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    unanswered.swap(requests);
  }
  for (WebRequest& request : unanswered) request.answer(Stopping());
  if (subscriber) subscriber();
}

void WebBoard::Submit(WebRequest request) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!closed) {
      requests.push_back(std::move(request));
      wake.Wake();
      return;
    }
  }
  request.answer(Stopping());
}

std::vector<WebRequest> WebBoard::TakeRequests() {
  wake.Drain();
  std::vector<WebRequest> taken;
  std::lock_guard<std::mutex> lock(mutex);
  taken.swap(requests);
  return taken;
}
