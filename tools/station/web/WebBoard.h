// Where the station's thread and the web page's server meet. The station
// publishes the station's state (a JSON text) here, and the server's event
// streams send each new one. The server posts turn, stop and follow
// requests here; the station's loop takes them, carries them out like a
// rotctld client's, and answers each through its `answer`.
//
// The station's thread never waits on anything here but the mutex, held only
// to copy a string or move a request: a slow or stalled browser cannot
// delay the station, its rotctld clients or other browsers.
//
// Owned by WebFront. Publish, TakeRequests, ReadFd and Close: the station's
// thread. Latest and Submit: the server's threads. Subscribe: the station's
// thread, while the server starts and stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/WakePipe.h"

struct WebReply {
  int status = 200;  // an HTTP status
  std::string body;  // JSON
};

struct WebRequest {
  enum class Kind { Turn, Stop, Follow };
  Kind kind = Kind::Stop;
  int rotator = 0;       // the rotator's number; for a stop, 0 means every rotator
  double azimuth = 0;    // Turn: the target azimuth as typed or clicked
  std::string place;     // Turn: the place aimed at ("Japan, long path"), if any
  std::string body;      // Follow: "sun" or "moon"
  std::string source;    // who asks: "page ADDRESS" or "zeva-ctl ADDRESS"
  // Called once with the answer, on the station's thread (or on the
  // server's, when the board is closed).
  std::function<void(WebReply)> answer;
};

class WebBoard {
 public:
  // False when the wake-up pipe cannot be made (out of descriptors).
  bool Open() { return wake.Open(); }

  // The station's thread: a new state, if it differs from the last one;
  // then the subscriber is told.
  void Publish(const std::string& json);
  // The latest state and its number (0 before the first); the shared text
  // spares a thousand event streams a copy each.
  uint64_t Latest(std::string& json) const;
  uint64_t Latest(std::shared_ptr<const std::string>& json) const;
  // Who is told of each new state and of Close (null: nobody). Called on
  // the station's thread, without the board's lock held.
  void Subscribe(std::function<void()> subscriber);
  // Answers every request not yet taken 503; later ones are answered so at
  // once.
  void Close();

  // Hands a request to the station's loop and wakes it.
  void Submit(WebRequest request);
  // The station's thread: the requests posted since the last call.
  std::vector<WebRequest> TakeRequests();
  // The station's loop polls this; TakeRequests drains it.
  int ReadFd() const { return wake.ReadFd(); }

 private:
  mutable std::mutex mutex;
  std::shared_ptr<const std::string> state = std::make_shared<std::string>();  // guarded by mutex
  uint64_t number = 0;        // guarded by mutex
  bool closed = false;        // guarded by mutex
  std::vector<WebRequest> requests;  // guarded by mutex
  std::function<void()> subscriber;  // the station's thread only
  zeva::WakePipe wake;
};
