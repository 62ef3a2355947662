// LineFramer cuts a client's byte stream into command lines. A line ends at
// a carriage return; one line feed just before it is removed; empty lines
// are dropped; every other byte (a leading line feed, tabs, NUL) is kept.
// Text without a carriage return waits for more bytes, up to a bound: past
// maxPending bytes the line is discarded up to its carriage return, with one
// log line.
//
// Ownership and threads: one framer per connection, used only by that
// connection's reader thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class LineFramer {
 public:
  explicit LineFramer(size_t maxPending) : maxPending(maxPending) {}

  // Appends received bytes and calls onLine for every complete, non-empty
  // line, in order.
  void Feed(const char* data, size_t size,
            const std::function<void(const std::string&)>& onLine);

  size_t PendingSize() const { return pending.size(); }

 private:
  const size_t maxPending;
  std::string pending;      // text received since the last carriage return
  bool discarding = false;  // dropping an over-long line up to its CR
};
