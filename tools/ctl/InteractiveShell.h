// zeva-ctl's interactive mode: reads command lines from standard input, runs
// them through the Session, and prints the daemon's pushed lines while it
// waits for input. On a terminal libedit reads the lines (prompt "zeva> ",
// arrow keys, history), one character at a time from the same poll loop as
// the socket, so a pushed line is printed above the prompt and the half-typed
// line is drawn again below it. From a pipe or file it reads plain lines.
#pragma once

#include <string>

class Connection;
class Session;

class InteractiveShell {
 public:
  InteractiveShell(Connection& connection, Session& session, bool terminal);

  // Runs until quit, end of input, Ctrl+C at the prompt, or the daemon
  // closing the connection; returns the exit status.
  int Run();

  static void PrintHelp();

 private:
  // Returns -1 to go on, or an exit status.
  int HandleInput(const std::string& line);
  void Prompt();
  int RunPlain();
  int RunEditor();
  // Reads and prints what the daemon sent; -1 to go on, or kLost.
  int ReadDaemon(bool underEditor);
  static void OnEditedLine(char* text);

  Connection& connection;
  Session& session;
  bool terminal;
  int editorStatus = -1;  // set by OnEditedLine: an exit status ends RunEditor
};
