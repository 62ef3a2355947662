// The answer to one rotctld request, in the format the client asked for.
//
// Default format (what rotctl -m 2 and Gpredict read): a get command sends
// its values one per line; a set command, and any command that fails, sends
// the one line "RPRT n". Extended format: the command's long name and its
// arguments ("set_pos: 90 0"), then "Key: value" records, then "RPRT n";
// every record ends in the separator the client chose, the last in a line
// feed.
//
// Built and used by RotctlSession on the station's one thread.
#pragma once

#include <string>
#include <vector>

#include "rotctld/RotctlParser.h"

class RotctlReply {
 public:
  // Hamlib's result codes, as rotctld reports them after "RPRT".
  static constexpr int kOk = 0;
  static constexpr int kInvalidParameter = -1;  // RIG_EINVAL: a bad or missing argument
  // RIG_ETIMEOUT: no position reported in time, the daemon did not take a
  // command in time, or the box is not responding to turns.
  static constexpr int kTimedOut = -5;
  // RIG_EIO, what rotctld answers when its box cannot be reached: the
  // device is gone or the daemon is out of reach.
  static constexpr int kIoError = -6;
  static constexpr int kNotAvailable = -11;     // RIG_ENAVAIL: a command the station lacks

  explicit RotctlReply(const RotctlRequest& request);

  // A returned value: "Key: value" in the extended format, the bare value
  // in the default one.
  void Value(const std::string& key, const std::string& value);
  // A record sent as it is in both formats (dump_state and dump_caps lines).
  void Record(const std::string& text);
  // In the default format a successful command that returned records still
  // ends with "RPRT 0" (as dump_caps does).
  void ReportSuccess() { reportSuccess = true; }

  // The whole answer. A failing code drops the values and records.
  std::string Finish(int code) const;

 private:
  bool extended;
  char separator;
  std::string header;                // extended format: "name: args"
  std::vector<std::string> records;  // values and records, in order
  bool reportSuccess = false;
};
