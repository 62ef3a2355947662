// One command of zeva-ctl, as read from the command line or typed in
// interactive mode, and the parser that turns words into it. The words are
// case-insensitive; model names are translated into the daemon's numbers.
#pragma once

#include <string>
#include <vector>

struct CtlCommand {
  enum class Kind { Configure, Rotate, Stop, Version, Status, Raw, Wait, Watch, Sleep, Echo, Help, Quit };

  Kind kind = Kind::Version;
  int id = 0;                // configure, rotate, stop, wait
  bool all = false;          // stop all (a station's rotators)
  int degrees = 0;           // rotate, wait
  std::string device;        // configure
  int model = 0;             // configure
  int pollMs = 0;            // configure
  std::string text;          // raw: the line to send; echo: the text to print
  int tolerance = 1;         // wait
  double seconds = -1;       // wait: timeout; watch: duration (< 0: forever); sleep
  bool interactiveOnly = false;

  // The line sent to the daemon (without its carriage return); empty for
  // commands that send nothing.
  std::string Line() const;

  // Parses one command. On failure returns false and sets `error`.
  static bool Parse(const std::vector<std::string>& words, CtlCommand& command, std::string& error);

  // Splits command-line arguments into commands at "," (a word of its own,
  // or the end of a word).
  static std::vector<std::vector<std::string>> SplitCommands(const std::vector<std::string>& args);

  // Model by name (dcu1, rotorez, yaesu, spid, rc2800pa, rc2800px,
  // prosistel; any case) or number. -1 when unknown.
  static int ModelNumber(const std::string& nameOrNumber);
  static std::string ModelNames();

  static constexpr double kDefaultWaitTimeout = 120;
};
