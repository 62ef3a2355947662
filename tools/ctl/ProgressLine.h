// The live progress line of "wait" on a terminal, such as
//   rotator 1: 045 -> 090 [#####     ] 50%
// rewritten in place with a carriage return. Lines printed while it is
// shown go above it.
#pragma once

#include <string>

class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled(enabled) {}

  bool Enabled() const { return enabled; }

  // Draws the line for a turn from `from` toward `to`, now at `at`.
  void Show(int id, int from, int at, int to);
  // Prints a normal line above the progress line.
  void PrintAbove(const std::string& text);
  // Ends the progress line with a newline (when one is shown).
  void Finish();

  static std::string Render(int id, int from, int at, int to);

 private:
  bool enabled;
  bool shown = false;
  std::string last;
};
