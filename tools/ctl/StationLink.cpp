#include "StationLink.h"

#include <chrono>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "common/Common.h"
#include "tools/CommandLine.h"

namespace {

constexpr long kConnectTimeoutMs = 5000;
// The station answers a turn once the daemon has taken it, or 504 after 3 s.
constexpr long kRequestTimeoutMs = 10000;
constexpr size_t kMaxAnswer = 1 << 20;  // a state of many rotators is a few KiB
// A lost stream is tried again every second for the first kQuickRetries
// times (a station restarting), then every kRetryLaterMs.
constexpr int kRetryMs = 1000;
constexpr int kQuickRetries = 30;
constexpr int kRetryLaterMs = 5000;

long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What every request sets: the address, the User-Agent the station names
// zeva-ctl's commands by, the headers, where the answer goes and where
// libcurl says what failed; no signals (the stream has a thread of its own).
void Prepare(CURL* curl, const std::string& address, struct curl_slist* headers, char* reason,
             curl_write_callback write, void* target) {
  const std::string userAgent = std::string("zeva-ctl/") + zeva::kVersion;
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, target);
}

size_t Collect(char* bytes, size_t size, size_t count, void* target) {
  std::string& body = *static_cast<std::string*>(target);
  if (body.size() + size * count > kMaxAnswer) return 0;  // ends the transfer
  body.append(bytes, size * count);
  return size * count;
}

int StopWhenInterrupted(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const volatile sig_atomic_t* interrupted = static_cast<const volatile sig_atomic_t*>(flag);
  return interrupted != nullptr && *interrupted ? 1 : 0;
}

// The station's {"error": "..."}, or the status when the answer has none.
std::string ErrorOf(long status, const std::string& body) {
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_object() && json.contains("error") && json["error"].is_string()) {
    return json["error"].get<std::string>();
  }
  return "HTTP status " + std::to_string(status);
}

}  // namespace

StationLink::StationLink(const std::string& url, const std::string& secret,
                         const volatile sig_atomic_t* interrupted)
    : url(url), secret(secret), interrupted(interrupted) {
  requests = curl_easy_init();
  multi = curl_multi_init();
  wake.Open();
}

StationLink::~StationLink() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (multi != nullptr) curl_multi_wakeup(multi);
  if (thread.joinable()) thread.join();
  if (multi != nullptr) curl_multi_cleanup(multi);
  if (requests != nullptr) curl_easy_cleanup(requests);
}

bool StationLink::MakeUrl(const std::string& text, std::string& result, std::string& error) {
  if (text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0) {
    result = text;
    while (!result.empty() && result.back() == '/') result.pop_back();
    if (result.find("//") + 2 < result.size()) return true;
    error = "'" + text + "' names no host";
    return false;
  }
  std::string host = "127.0.0.1";
  std::string port = text;
  std::string::size_type colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    if (host.empty() || (host.find(':') != std::string::npos && !bracketed)) {
      error = "'" + text + "': expected [HOST:]PORT (an IPv6 address in brackets) or an http:// URL";
      return false;
    }
  }
  int number = 0;
  if (!zeva_tools::ToWhole(port, 1, 65535, number)) {
    error = "'" + text + "': the port must be a number 1..65535";
    return false;
  }
  result = "http://" + host + ":" + std::to_string(number);
  return true;
}

StationLink::Answer StationLink::Request(const char* path, const std::string* form, std::string& body,
                                         std::string& message) {
  if (requests == nullptr) {
    message = "libcurl could not start";
    return Answer::Unreachable;
  }
  CURL* curl = requests;
  const std::string address = url + path;
  char reason[CURL_ERROR_SIZE] = "";
  struct curl_slist* headers = nullptr;
  const std::string authorization = "Authorization: Bearer " + secret;
  if (!secret.empty()) headers = curl_slist_append(headers, authorization.c_str());
  body.clear();
  Prepare(curl, address, headers, reason, Collect, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kRequestTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopWhenInterrupted);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, interrupted);
  if (form != nullptr) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form->c_str());
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headers);
  if (result == CURLE_ABORTED_BY_CALLBACK) return Answer::Interrupted;
  if (result != CURLE_OK) {
    message = reason[0] != '\0' ? reason : curl_easy_strerror(result);
    return Answer::Unreachable;
  }
  if (status >= 200 && status < 300) return Answer::Done;
  message = ErrorOf(status, body);
  if (status == 401) message += " (give zeva-ctl the secret with --secret-file FILE or ZEVA_STATION_SECRET)";
  return Answer::Refused;
}

StationLink::Answer StationLink::Fetch(StationState& state, std::string& message) {
  std::string body;
  Answer answer = Request("/api/state", nullptr, body, message);
  if (answer == Answer::Done && !StationState::Parse(body, state, message)) {
    message += " (is " + url + " a zeva-station's page?)";
    return Answer::Unreachable;
  }
  return answer;
}

StationLink::Answer StationLink::Turn(int id, int degrees, std::string& message) {
  const std::string form = "rotator=" + std::to_string(id) + "&bearing=" + std::to_string(degrees);
  return Request("/api/turn", &form, message, message);
}

StationLink::Answer StationLink::Stop(int id, std::string& message) {
  const std::string form = "rotator=" + (id == 0 ? std::string("all") : std::to_string(id));
  return Request("/api/stop", &form, message, message);
}

StationLink::Answer StationLink::Aim(int id, const std::string& place, bool longPath, std::string& message) {
  char* escaped = curl_easy_escape(requests, place.c_str(), static_cast<int>(place.size()));
  const std::string form = "rotator=" + std::to_string(id) + "&to=" + (escaped ? escaped : "") +
                           "&path=" + (longPath ? "long" : "short");
  curl_free(escaped);
  const Answer answer = Request("/api/aim", &form, message, message);
  if (answer != Answer::Done) return answer;
  const nlohmann::json json = nlohmann::json::parse(message, nullptr, false);
  if (json.is_object() && json.value("bearing", nlohmann::json()).is_number_integer() &&
      json.value("name", nlohmann::json()).is_string()) {
    message = "turning to " + std::to_string(json["bearing"].get<int>()) + " (" + json["name"].get<std::string>() + ")";
  }
  return answer;
}

StationLink::Answer StationLink::FollowBody(int id, const std::string& body, std::string& message) {
  const std::string form = "rotator=" + std::to_string(id) + "&body=" + body;
  const Answer answer = Request("/api/follow", &form, message, message);
  if (answer != Answer::Done) return answer;
  const nlohmann::json json = nlohmann::json::parse(message, nullptr, false);
  if (json.is_object() && json.value("bearing", nlohmann::json()).is_number_integer()) {
    message = "following the " + body + ", turning to " + std::to_string(json["bearing"].get<int>());
  }
  return answer;
}

void StationLink::Follow(const StationState& known) {
  if (thread.joinable() || multi == nullptr) return;
  seen = known;
  thread = std::thread([this] { Run(); });
}

void StationLink::Post(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }
  wake.Wake();
}

bool StationLink::Fill() {
  wake.Drain();
  std::lock_guard<std::mutex> lock(mutex);
  for (std::string& line : lines) taken.push_back(std::move(line));
  lines.clear();
  return true;
}

bool StationLink::TakeBufferedLine(std::string& line) {
  if (taken.empty()) return false;
  line = std::move(taken.front());
  taken.pop_front();
  return true;
}

void StationLink::Run() {
  int retries = 0;
  for (;;) {
    const std::string reason = ReadStream();
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping) return;
    retries = connected ? 0 : retries + 1;
    if (!lost) {
      lines.push_back("zeva-ctl: lost the station at " + url + " (" + reason + "); trying again");
      wake.Wake();
      lost = true;
    }
    const int pause = retries < kQuickRetries ? kRetryMs : kRetryLaterMs;
    changed.wait_for(lock, std::chrono::milliseconds(pause), [this] { return stopping; });
    if (stopping) return;
  }
}

size_t StationLink::OnStreamData(char* bytes, size_t size, size_t count, void* self) {
  return static_cast<StationLink*>(self)->TakeStreamText(bytes, size * count) ? size * count : 0;
}

bool StationLink::TakeStreamText(const char* bytes, size_t length) {
  heardAt = SteadyMs();
  if (status == 0) curl_easy_getinfo(stream, CURLINFO_RESPONSE_CODE, &status);
  pending.append(bytes, length);
  if (status != 200) return pending.size() <= kMaxAnswer;  // an error's body, read in ReadStream
  // Server-Sent Events: "data: TEXT" lines, an empty line ends the event;
  // lines starting with ':' are comments (the station's idle notes).
  std::string::size_type end;
  while ((end = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (!data.empty()) OnEvent(data);
      data.clear();
    } else if (line.rfind("data:", 0) == 0) {
      std::string::size_type start = line.size() > 5 && line[5] == ' ' ? 6 : 5;
      data += (data.empty() ? "" : "\n") + line.substr(start);
    }
  }
  return pending.size() <= kMaxAnswer && data.size() <= kMaxAnswer;
}

void StationLink::OnEvent(const std::string& text) {
  StationState state;
  std::string error;
  if (!StationState::Parse(text, state, error)) return;
  std::vector<std::string> told = StationState::Changes(&seen, state);
  seen = state;
  connected = true;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (lost) lines.push_back("zeva-ctl: the station at " + url + " is back");
    lost = false;
    for (std::string& line : told) lines.push_back(std::move(line));
  }
  wake.Wake();
}

std::string StationLink::ReadStream() {
  stream = curl_easy_init();
  if (stream == nullptr) return "libcurl could not start";
  const std::string address = url + "/api/events";
  char reason[CURL_ERROR_SIZE] = "";
  struct curl_slist* headers = curl_slist_append(nullptr, "Accept: text/event-stream");
  Prepare(stream, address, headers, reason, OnStreamData, this);
  status = 0;
  connected = false;
  pending.clear();
  data.clear();
  heardAt = SteadyMs();
  curl_multi_add_handle(multi, stream);
  CURLcode result = CURLE_OK;
  bool silent = false;
  for (;;) {
    int running = 0;
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    if (running == 0) break;
    curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) break;
    }
    if (SteadyMs() - heardAt > kSilenceMs) {
      silent = true;
      break;
    }
  }
  curl_multi_remove_handle(multi, stream);
  curl_easy_cleanup(stream);
  stream = nullptr;
  curl_slist_free_all(headers);
  if (silent) return "nothing heard for " + std::to_string(kSilenceMs / 1000) + " s";
  if (status != 0 && status != 200) return ErrorOf(status, pending);
  if (connected || result == CURLE_OK) return "the event stream ended";
  return reason[0] != '\0' ? reason : curl_easy_strerror(result);
}
