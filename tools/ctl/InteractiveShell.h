// zeva-ctl's interactive mode: reads command lines from standard input
// (with the prompt "zeva> " when it is a terminal), runs them through the
// Session, and prints the daemon's pushed lines while it waits for input.
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

  Connection& connection;
  Session& session;
  bool terminal;
};
