// The rotctld command language as the station reads it: one text line from a
// rotctld client becomes a list of requests. A line may hold several
// commands ("P 10 0 p"); each command is a one-character short name ("P") or
// a long name after a backslash ("\set_pos"), followed by as many arguments
// as the command takes. A punctuation character in front of a command asks
// for the extended response format ("+p", ";\get_pos"). Pure text handling,
// no state: safe to call from any thread.
#pragma once

#include <string>
#include <vector>

enum class RotctlAction {
  SetPos,     // P, set_pos AZ EL
  GetPos,     // p, get_pos
  Stop,       // S, stop
  GetInfo,    // _, get_info
  DumpState,  // dump_state (what rotctl -m 2 asks when it opens)
  DumpCaps,   // 1, dump_caps
  Quit,       // q, Q: the client is done
  Refused,    // a rotctld command the station does not carry out
  Unknown,    // not a rotctld command at all
};

struct RotctlRequest {
  RotctlAction action = RotctlAction::Unknown;
  // The long name ("set_pos"); for an unknown command the word as sent,
  // without a leading backslash.
  std::string name;
  // The arguments as sent. An unknown command takes the rest of the line.
  std::vector<std::string> args;
  // The line ended before all of the command's arguments had come.
  bool missingArgs = false;
  // Extended response format, and the character that ends each record of
  // it ('\n' for '+', else the prefix character itself).
  bool extended = false;
  char separator = '\n';
};

class RotctlParser {
 public:
  // Cuts one line (without its line feed; a carriage return at the end is
  // dropped) into requests. Blanks and tabs separate words; a word starting
  // with '#' ends the line (a comment).
  static std::vector<RotctlRequest> ParseLine(const std::string& line);

  // Whether `c` in front of a command selects the extended format: any
  // punctuation character except '\', '?', '_' and '#'.
  static bool IsExtendedPrefix(char c);
};
