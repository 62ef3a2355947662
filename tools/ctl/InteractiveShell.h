// zeva-ctl's interactive mode: reads command lines from standard input, runs
// them through the Session, and prints the daemon's pushed lines while it
// waits for input. On a terminal libedit reads the lines (prompt "zeva> ",
// arrow keys, history), one character at a time from the same poll loop as
// the socket, so a pushed line is printed above the prompt and the half-typed
// line is drawn again below it. Ctrl+C clears a half-typed line, as shells
// do; on an empty line it ends the shell, as Ctrl+D does. From a pipe or
// file it reads plain lines.
//
// Owned by main(); called on the main thread only.
#pragma once

#include <string>

class Link;
class Session;

class InteractiveShell {
 public:
  InteractiveShell(Link& link, Session& session, bool terminal);

  // Runs until quit, end of input, Ctrl+C on an empty line, or the daemon
  // closing the connection (a station's link comes back by itself);
  // returns the exit status.
  int Run();

  static void PrintHelp();

 private:
  // Returns -1 to go on, or an exit status.
  int HandleInput(const std::string& line);
  void Prompt();
  int RunPlain();
  int RunEditor();
  // Reads and prints what the link pushed; -1 to go on, or kLost.
  int ReadPushed(bool underEditor);
  static void OnEditedLine(char* text);

  Link& link;
  Session& session;
  bool terminal;
  int editorStatus = -1;  // set by OnEditedLine: an exit status ends RunEditor
  bool typed = false;     // the editor holds a half-typed line
};
