// zeva-ctl's way to the rotators through a running zeva-station, the
// daemon's one client, over the station page's JSON API (libcurl): GET
// /api/state, POST /api/turn, /api/stop, /api/aim and /api/follow (answered
// once the daemon has taken the command, or with {"error": ...}), and the
// event stream GET /api/events (Server-Sent Events, one state per event).
//
// Once Follow() starts it, a thread of its own reads the event stream and
// turns each new state into the lines zeva-ctl prints (StationState::
// Changes: "ID BBB" for a bearing, as the daemon pushes it). When the
// stream breaks, or nothing (not even the station's idle comment) comes for
// kSilenceMs, it says so and connects again, every second at first, until
// the station is back, which it says too. Its own notices are lines that
// start with "zeva-ctl: ". Lines reach the main thread through a queue and
// a wake-up pipe (Fd()).
//
// Every request says "zeva-ctl/VERSION" as its User-Agent, by which the
// station names the source of its commands; with a secret, it goes in an
// "Authorization: Bearer" header.
//
// Owned by main(). Everything but the stream thread's own members is called
// on the main thread; the two share only `mutex`'s members and the pipe.
#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "Link.h"
#include "StationState.h"
#include "common/WakePipe.h"

class StationLink : public Link {
 public:
  enum class Answer { Done, Refused, Unreachable, Interrupted };
  static constexpr int kSilenceMs = 45000;

  // `url`: where the station's page is (from MakeUrl). `interrupted`: a
  // request in progress gives up when it is set (Ctrl+C).
  StationLink(const std::string& url, const std::string& secret, const volatile sig_atomic_t* interrupted);
  ~StationLink() override;
  StationLink(const StationLink&) = delete;
  StationLink& operator=(const StationLink&) = delete;

  // [HOST:]PORT (HOST by default 127.0.0.1; an IPv6 address in brackets)
  // or an http:// or https:// URL (a reverse proxy's, say) -> the page's
  // URL without its final slash. False with the reason when it is neither.
  static bool MakeUrl(const std::string& text, std::string& url, std::string& error);
  const std::string& Url() const { return url; }

  // Reads the station's state: Done, or Unreachable/Refused with the
  // reason in `message`.
  Answer Fetch(StationState& state, std::string& message);
  // Turns rotator `id` to `degrees` or stops it (`id` 0: every rotator).
  // On Done, `message` holds the station's answer (JSON).
  Answer Turn(int id, int degrees, std::string& message);
  Answer Stop(int id, std::string& message);
  // Turns rotator `id` to a place (a locator, callsign, prefix or LAT,LON)
  // by its short or long path, or has it follow the sun or the moon. On
  // Done, `message` says where it turns ("turning to 216 (Japan, long
  // path)").
  Answer Aim(int id, const std::string& place, bool longPath, std::string& message);
  Answer FollowBody(int id, const std::string& body, std::string& message);

  // Starts following the event stream (once); changes are told relative to
  // `known`, the state the caller last saw.
  void Follow(const StationState& known);

  int Fd() const override { return wake.ReadFd(); }
  bool Fill() override;
  bool TakeBufferedLine(std::string& line) override;

 private:
  Answer Request(const char* path, const std::string* form, std::string& body, std::string& message);
  void Run();
  // One connection of the event stream, until it ends; returns why.
  std::string ReadStream();
  static size_t OnStreamData(char* bytes, size_t size, size_t count, void* self);
  bool TakeStreamText(const char* bytes, size_t length);
  void OnEvent(const std::string& data);
  void Post(const std::string& line);

  const std::string url;
  const std::string secret;
  const volatile sig_atomic_t* const interrupted;
  CURL* requests = nullptr;  // the main thread's handle, kept for its connection
  std::deque<std::string> taken;  // lines handed over, main thread only

  // The stream thread's own.
  std::thread thread;
  CURLM* multi = nullptr;    // made before the thread starts: the destructor wakes its wait
  CURL* stream = nullptr;
  long status = 0;           // the current stream's HTTP status, once known
  long long heardAt = 0;     // when the stream last delivered anything (steady ms)
  StationState seen;         // the last state told
  bool connected = false;    // the current stream has delivered a state
  bool lost = false;         // a stream broke and no state has come since
  std::string pending;       // received text not yet ended by a line feed
  std::string data;          // the current event's data lines

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;            // guarded by mutex
  std::deque<std::string> lines;    // guarded by mutex
  zeva::WakePipe wake;
};
