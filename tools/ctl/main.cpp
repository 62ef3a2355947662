// zeva-ctl: a small command-line client for the zeva-rotator daemon.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Connection.h"
#include "CtlCommand.h"
#include "InteractiveShell.h"
#include "Session.h"
#include "common/Common.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;

void PrintHelp() {
  printf(
      "Usage: zeva-ctl [--host HOST] [--port PORT] COMMAND [ARGS] [, COMMAND [ARGS] ...]\n"
      "       zeva-ctl [--host HOST] [--port PORT] [-i]\n"
      "\n"
      "Talks to the zeva-rotator daemon (default 127.0.0.1 port %d). Commands\n"
      "separated by \",\" (a word of its own, or at the end of a word) run one\n"
      "after the other on ONE connection. This matters: the daemon forgets all\n"
      "rotators when its client disconnects, so configure and turn them in the\n"
      "same call. Without a command (or with -i) commands are read from\n"
      "standard input, one per line.\n"
      "\n"
      "Commands (words are case-insensitive):\n"
      "  configure ID DEVICE MODEL POLLMS\n"
      "        bind rotator ID to the serial DEVICE; MODEL is a number or one of\n"
      "        %s;\n"
      "        POLLMS is the polling period in milliseconds\n"
      "  rotate ID DEGREES      turn rotator ID to DEGREES\n"
      "  stop ID                stop rotator ID\n"
      "  version                print the daemon's version (fails after 2 s)\n"
      "  raw TEXT...            send TEXT (words joined by blanks) and a CR\n"
      "  wait ID DEGREES [--tolerance N] [--timeout SECONDS]\n"
      "        wait until rotator ID reports a bearing within N degrees (default\n"
      "        1) of DEGREES; default timeout %g s. On a terminal a progress line\n"
      "        is shown, otherwise the bearing lines are printed. A DCU-1 never\n"
      "        reports a bearing, so waiting for one always times out.\n"
      "  watch [--for SECONDS]  print bearings until Ctrl+C (or for SECONDS)\n"
      "  sleep SECONDS          stay connected, printing bearings, for SECONDS\n"
      "  echo TEXT...           print TEXT (for narrating scripts)\n"
      "  help, quit             (interactive mode only)\n"
      "\n"
      "Lines from the daemon are printed as they arrive: bearings as \"ID BBB\",\n"
      "anything else as it is. Commands go out ending in a single CR, the way\n"
      "the daemon cuts lines. When the commands are done, zeva-ctl closes its\n"
      "sending side and waits (up to 3 s) for the daemon to hang up, printing\n"
      "what still arrives.\n"
      "\n"
      "Options:\n"
      "  --host HOST    daemon host (default 127.0.0.1)\n"
      "  --port PORT    daemon port (default %d)\n"
      "  -i             interactive mode (prompt \"zeva> \" on a terminal)\n"
      "  -V, --version  print zeva-ctl's version\n"
      "  -h, --help     this text\n"
      "\n"
      "Example:\n"
      "  zeva-ctl configure 1 /dev/pts/5 yaesu 1000 , rotate 1 90 , wait 1 90\n"
      "\n"
      "Exit status: 0 success; 1 usage error or no reply to version; 2 cannot\n"
      "connect; 3 wait timed out; 4 the daemon closed the connection; 130\n"
      "interrupted (Ctrl+C) during wait or sleep (watch ends with 0).\n",
      zeva::kTcpPort, CtlCommand::ModelNames().c_str(), CtlCommand::kDefaultWaitTimeout, zeva::kTcpPort);
}

void OnInterrupt(int) { Session::interrupted = 1; }

int Usage(const std::string& message) {
  fprintf(stderr, "zeva-ctl: %s\nTry 'zeva-ctl --help'.\n", message.c_str());
  return Session::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = zeva::kTcpPort;
  bool interactive = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "-h" || option == "--help") {
      PrintHelp();
      return 0;
    } else if (option == "-V" || option == "--version") {
      printf("zeva-ctl %s\n", zeva::kVersion);
      return 0;
    } else if (option == "-i" || option == "--interactive") {
      interactive = true;
    } else if (option == "--host") {
      if (++i >= argc || argv[i][0] == '\0') return Usage("--host needs a host name or address");
      host = argv[i];
    } else if (option == "--port") {
      char* end = nullptr;
      long value = ++i < argc ? strtol(argv[i], &end, 10) : 0;
      if (i >= argc || *end != '\0' || value < 1 || value > 65535) return Usage("--port needs a number 1..65535");
      port = static_cast<int>(value);
    } else if (option == "--") {
      ++i;
      break;
    } else if (option.size() > 1 && option[0] == '-' && !(option[1] >= '0' && option[1] <= '9')) {
      return Usage("unknown option '" + option + "'");
    } else {
      break;
    }
  }

  std::vector<CtlCommand> commands;
  std::vector<std::string> args(argv + i, argv + argc);
  for (const std::vector<std::string>& words : CtlCommand::SplitCommands(args)) {
    CtlCommand command;
    std::string error;
    if (!CtlCommand::Parse(words, command, error)) return Usage(error);
    if (command.interactiveOnly) return Usage("'" + words[0] + "' is for interactive mode");
    commands.push_back(command);
  }
  if (commands.empty()) interactive = true;
  if (interactive && !commands.empty()) return Usage("-i takes no commands");

  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Connection connection;
  std::string error;
  if (!connection.Connect(host, port, kConnectTimeoutMs, error)) {
    fprintf(stderr, "zeva-ctl: cannot connect to %s:%d: %s\n", host.c_str(), port, error.c_str());
    return Session::kNoConnection;
  }
  Session session(connection, isatty(STDOUT_FILENO) != 0);

  int status = Session::kOk;
  if (interactive) {
    InteractiveShell shell(connection, session, isatty(STDIN_FILENO) != 0);
    status = shell.Run();
  } else {
    for (const CtlCommand& command : commands) {
      status = session.Execute(command);
      if (status != Session::kOk) break;
    }
  }
  if (status != Session::kLost) session.Finish();
  return status;
}
