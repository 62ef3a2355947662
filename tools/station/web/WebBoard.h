// Where the station's thread and the web page's threads meet. The station
// publishes the station's state (a JSON text) here; each page's event
// stream waits for a newer one. The web threads post turn and stop requests
// here; the station's loop takes them, carries them out like a rotctld
// client's, and answers each through its promise.
//
// The station's thread never waits on anything here but the mutex, held only
// to copy a string or move a request: a slow or stalled browser cannot
// delay the station, its rotctld clients or other browsers.
//
// Owned by Station. Publish, TakeRequests and ReadFd: the station's thread.
// Latest, WaitNewer and Submit: any web thread. Close: the station's thread,
// before the web server stops (it ends every WaitNewer at once).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "common/WakePipe.h"

struct WebReply {
  int status = 200;  // an HTTP status
  std::string body;  // JSON
};

struct WebRequest {
  enum class Kind { Turn, Stop };
  Kind kind = Kind::Stop;
  int rotator = 0;       // the rotator's number; for a stop, 0 means every rotator
  double azimuth = 0;    // Turn: the target azimuth as typed or clicked
  std::string source;    // who asks: "page ADDRESS" or "zeva-ctl ADDRESS"
  std::promise<WebReply> reply;
};

class WebBoard {
 public:
  // False when the wake-up pipe cannot be made (out of descriptors).
  bool Open() { return wake.Open(); }

  // The station's thread: a new state, if it differs from the last one.
  void Publish(const std::string& json);
  // A web thread: the latest state and its number (0 before the first).
  uint64_t Latest(std::string& json) const;
  // A web thread: waits until a state newer than `seen` is published (true,
  // with it), the board closes or `timeoutMs` pass (false).
  bool WaitNewer(uint64_t& seen, std::string& json, int timeoutMs) const;
  void Close();
  bool Closed() const;

  // A web thread: hands a request to the station's loop and wakes it.
  std::future<WebReply> Submit(WebRequest request);
  // The station's thread: the requests posted since the last call.
  std::vector<WebRequest> TakeRequests();
  // The station's loop polls this; TakeRequests drains it.
  int ReadFd() const { return wake.ReadFd(); }

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::string state;          // guarded by mutex
  uint64_t number = 0;        // guarded by mutex
  bool closed = false;        // guarded by mutex
  std::vector<WebRequest> requests;  // guarded by mutex
  zeva::WakePipe wake;
};
