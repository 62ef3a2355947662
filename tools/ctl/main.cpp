// zeva-ctl: a small command-line client for the zeva-rotator daemon, or
// for its rotators through a running zeva-station (--station).
#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Connection.h"
#include "CtlCommand.h"
#include "InteractiveShell.h"
#include "Session.h"
#include "StationLink.h"
#include "common/Common.h"
#include "tools/CommandLine.h"
#include "tools/SecretFile.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr const char* kSecretVariable = "ZEVA_STATION_SECRET";

void PrintHelp() {
  printf(
      "Usage: zeva-ctl [OPTIONS] [HOST:PORT] COMMAND [ARGS] [, COMMAND [ARGS] ...]\n"
      "       zeva-ctl [OPTIONS] [HOST:PORT] [-i]\n"
      "       zeva-ctl --station [HOST:]PORT [OPTIONS] COMMAND ... | -i\n"
      "\n"
      "Talks to the zeva-rotator daemon (default 127.0.0.1 port %d), or with\n"
      "--station to the rotators of a running zeva-station (see below). Commands\n"
      "separated by \",\" (a word of its own, or at the end of a word) run one\n"
      "after the other on ONE connection. This matters: the daemon forgets all\n"
      "rotators when its client disconnects, so configure and turn them in the\n"
      "same call (a rotate or stop without a configure says so on standard\n"
      "error). Without a command (or with -i) commands are read from standard\n"
      "input, one per line; on a terminal with line editing and history.\n"
      "\n"
      "Commands (words are case-insensitive):\n"
      "  configure ID DEVICE MODEL POLLMS\n"
      "        bind rotator ID to the serial DEVICE; MODEL is a number or one of\n"
      "        %s;\n"
      "        POLLMS is the polling period in milliseconds\n"
      "  rotate ID DEGREES      turn rotator ID to DEGREES (also: turn ID DEGREES)\n"
      "  rotate ID PLACE [--long]\n"
      "        through a station with its place: turn rotator ID to a locator\n"
      "        (JO22), callsign or prefix (JA1XYZ, VK) or LAT,LON by its short\n"
      "        path, or its long path\n"
      "  follow ID sun|moon     through a station: keep rotator ID on the sun or\n"
      "                         the moon until it sets or another command comes\n"
      "  stop ID                stop rotator ID (a station's: stop all too)\n"
      "  version                print the daemon's version (fails after 2 s)\n"
      "  status                 a station's rotators: state, bearing, target, and\n"
      "                         the last command: from whom, how long ago\n"
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
      "With --station, zeva-ctl goes through the station (the daemon's one client)\n"
      "over its web page's JSON API: rotate, stop, wait, watch, sleep and -i work\n"
      "as they do against the daemon, bearings printed the same way, with who sent\n"
      "each new command (\"rotator 1: turn to 120 from page 10.0.0.7\"). The\n"
      "station configures its rotators itself, so configure and raw do not apply.\n"
      "A rotate or stop is done once the daemon has taken it; a refusal is printed\n"
      "with the station's reason (exit 5). When the station goes away, watch and\n"
      "-i say so and connect again until it is back.\n"
      "\n"
      "Options:\n"
      "  -H, --host HOST[:PORT]  daemon host (default 127.0.0.1) and, if given,\n"
      "                          its port; an IPv6 address goes in brackets\n"
      "                          ([::1]:13020). A first word HOST:PORT (it holds\n"
      "                          a colon, which no command does) means the same\n"
      "  -p, --port PORT         daemon port (default %d) when HOST names none\n"
      "  -s, --station [HOST:]PORT  go through the station whose page is on PORT\n"
      "                          of HOST (default 127.0.0.1), or at an http:// or\n"
      "                          https:// URL\n"
      "      --secret-file FILE  the station's secret (its first line), needed to\n"
      "                          turn when the station asks for one; without it,\n"
      "                          the environment variable %s\n"
      "  -i, --interactive       interactive mode (prompt \"zeva> \" on a terminal)\n"
      "  -V, --version           print the version\n"
      "  -h, --help              this text\n"
      "\n"
      "Examples:\n"
      "  zeva-ctl configure 1 /dev/pts/5 yaesu 1000 , rotate 1 90 , wait 1 90\n"
      "  zeva-ctl board.local:13020 version\n"
      "  zeva-ctl --station 8080 rotate 1 90 , wait 1 90\n"
      "  zeva-ctl --station board.local:8080 status\n"
      "\n"
      "Exit status: 0 success; 1 usage error, no reply to version, or a command\n"
      "that does not apply; 2 cannot connect; 3 wait timed out; 4 the daemon\n"
      "closed the connection, or the station cannot be reached; 5 the station\n"
      "refused a command; 130 interrupted (Ctrl+C) during wait or sleep (watch\n"
      "ends with 0).\n",
      zeva::kTcpPort, CtlCommand::ModelNames().c_str(), CtlCommand::kDefaultWaitTimeout, zeva::kTcpPort,
      kSecretVariable);
}

void OnInterrupt(int) { Session::interrupted = 1; }

int Usage(const std::string& message) {
  fprintf(stderr, "zeva-ctl: %s\nTry 'zeva-ctl --help'.\n", message.c_str());
  return Session::kFailed;
}

// HOST, HOST:PORT, [ADDRESS]:PORT or [ADDRESS]; an address with more than
// one colon and no brackets is an IPv6 literal without a port. `port` is
// left alone when the text names none.
bool ParseHost(const std::string& text, std::string& host, int& port, std::string& error) {
  std::string portText;
  bool hasPort = false;
  if (!text.empty() && text[0] == '[') {
    std::string::size_type close = text.find(']');
    std::string rest = close == std::string::npos ? "x" : text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') {
      error = "'" + text + "': expected [ADDRESS] or [ADDRESS]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    hasPort = !rest.empty();
    if (hasPort) portText = rest.substr(1);
  } else {
    std::string::size_type colon = text.find(':');
    hasPort = colon != std::string::npos && text.find(':', colon + 1) == std::string::npos;
    host = hasPort ? text.substr(0, colon) : text;
    if (hasPort) portText = text.substr(colon + 1);
  }
  if (host.empty()) {
    error = "'" + text + "': the host is missing";
    return false;
  }
  if (hasPort && !zeva_tools::ToWhole(portText, 1, 65535, port)) {
    error = "'" + text + "': the port must be a number 1..65535";
    return false;
  }
  return true;
}

std::string HostAndPort(const std::string& host, int port) {
  bool literal6 = host.find(':') != std::string::npos;
  return (literal6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// A rotator configured by an earlier zeva-ctl is gone by now: say so when a
// call turns or stops one without configuring anything.
void WarnIfNotConfigured(const std::vector<CtlCommand>& commands, const std::vector<std::string>& words) {
  const CtlCommand* turn = nullptr;
  for (const CtlCommand& command : commands) {
    std::string raw = command.text.substr(0, 10);
    for (char& c : raw) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (command.kind == CtlCommand::Kind::Configure ||
        (command.kind == CtlCommand::Kind::Raw && raw == "configure ")) {
      return;
    }
    bool turns = command.kind == CtlCommand::Kind::Rotate || command.kind == CtlCommand::Kind::Stop;
    if (turns && turn == nullptr) turn = &command;
  }
  if (turn == nullptr) return;
  std::string call;
  for (const std::string& word : words) call += " " + word;
  fprintf(stderr,
          "zeva-ctl: note: the daemon forgets its rotators when a connection ends, so rotator %d\n"
          "is unknown unless configured in this same call (with your device and model):\n"
          "  zeva-ctl configure %d /dev/ttyUSB0 yaesu 1000 ,%s\n",
          turn->id, turn->id, call.c_str());
}

// The first line of a regular file of at most 4 KiB (tools/SecretFile.h).
bool ReadSecret(const std::string& path, std::string& secret, std::string& error) {
  using Outcome = zeva_tools::SecretFile::Outcome;
  const zeva_tools::SecretFile file = zeva_tools::ReadSecretFile(path);
  switch (file.outcome) {
    case Outcome::kRead: break;
    case Outcome::kCannotOpen:
    case Outcome::kCannotRead:
      error = "cannot read the secret file " + path + ": " + strerror(file.error);
      return false;
    case Outcome::kEmptyLine:
      error = "the secret file " + path + " starts with an empty line";
      return false;
    default:
      error = "the secret file " + path + " must be a regular file of at most 4 KiB";
      return false;
  }
  if (file.othersCanRead) {
    fprintf(stderr, "zeva-ctl: warning: other users can read the secret file %s (chmod 600 it)\n", path.c_str());
  }
  secret = file.secret;
  return true;
}

// The commands one after the other until one fails, or the shell.
int RunCommands(Link& link, Session& session, const std::vector<CtlCommand>& commands, bool interactive) {
  if (interactive) {
    InteractiveShell shell(link, session, isatty(STDIN_FILENO) != 0);
    return shell.Run();
  }
  for (const CtlCommand& command : commands) {
    const int status = session.Execute(command);
    if (status != Session::kOk) return status;
  }
  return Session::kOk;
}

// The commands, or the shell, through a station.
int RunAtStation(const std::string& url, const std::string& secret, const std::vector<CtlCommand>& commands,
                 bool interactive) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  int status = Session::kOk;
  {
    StationLink station(url, secret, &Session::interrupted);
    StationState state;
    std::string error;
    StationLink::Answer answer = station.Fetch(state, error);
    if (answer != StationLink::Answer::Done) {
      fprintf(stderr, "zeva-ctl: cannot connect to the station at %s: %s\n", url.c_str(), error.c_str());
      status = answer == StationLink::Answer::Interrupted ? Session::kInterrupted : Session::kNoConnection;
    } else {
      Session session(station, state, isatty(STDOUT_FILENO) != 0);
      status = RunCommands(station, session, commands, interactive);
    }
  }
  curl_global_cleanup();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  enum { kSecretFile = 256 };
  static const struct option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
      {"host", required_argument, nullptr, 'H'},   {"port", required_argument, nullptr, 'p'},
      {"interactive", no_argument, nullptr, 'i'},  {"station", required_argument, nullptr, 's'},
      {"secret-file", required_argument, nullptr, kSecretFile},
      {nullptr, 0, nullptr, 0},
  };
  std::string host = "127.0.0.1";
  int port = -1;        // from HOST:PORT, which wins over --port
  int optionPort = -1;  // from --port
  bool hostGiven = false;
  bool interactive = false;
  std::string stationUrl;  // --station, as a URL
  std::string secretFile;
  std::string error;
  opterr = 0;
  for (;;) {
    int word = zeva_tools::GetoptWord();
    int option = getopt_long(argc, argv, "+:hVH:p:is:", kOptions, nullptr);
    if (option == -1) {
      // A first word with a colon is never a command: it is HOST:PORT.
      if (hostGiven || !stationUrl.empty() || optind >= argc || strchr(argv[optind], ':') == nullptr) break;
      if (!ParseHost(argv[optind], host, port, error)) return Usage(error);
      hostGiven = true;
      ++optind;
      continue;
    }
    switch (option) {
      case 'h': PrintHelp(); return 0;
      case 'V': printf("zeva-ctl %s\n", zeva::kVersion); return 0;
      case 'i': interactive = true; break;
      case 's':
        if (!StationLink::MakeUrl(optarg, stationUrl, error)) return Usage("--station " + error);
        break;
      case kSecretFile: secretFile = optarg; break;
      case 'H':
        if (!ParseHost(optarg, host, port, error)) return Usage("--host " + error);
        hostGiven = true;
        break;
      case 'p':
        if (!zeva_tools::ToWhole(optarg, 1, 65535, optionPort)) return Usage("--port needs a number 1..65535");
        break;
      default: return Usage(zeva_tools::GetoptMistake(option, argv[word], kOptions));
    }
  }
  if (!stationUrl.empty() && (hostGiven || optionPort > 0)) {
    return Usage("--station goes through the station: give no daemon address beside it");
  }
  if (stationUrl.empty() && !secretFile.empty()) return Usage("--secret-file is for --station");
  if (port < 0) port = optionPort > 0 ? optionPort : zeva::kTcpPort;

  std::vector<CtlCommand> commands;
  std::vector<std::string> args(argv + optind, argv + argc);
  for (const std::vector<std::string>& words : CtlCommand::SplitCommands(args)) {
    CtlCommand command;
    if (!CtlCommand::Parse(words, command, error)) return Usage(error);
    if (command.interactiveOnly) return Usage("'" + words[0] + "' is for interactive mode");
    if (stationUrl.empty() && (!command.place.empty() || command.kind == CtlCommand::Kind::Follow)) {
      return Usage("places and the sun and the moon are a station's: give --station");
    }
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

  if (!stationUrl.empty()) {
    std::string secret;
    const char* fromEnvironment = getenv(kSecretVariable);
    if (!secretFile.empty()) {
      if (!ReadSecret(secretFile, secret, error)) {
        fprintf(stderr, "zeva-ctl: %s\n", error.c_str());
        return Session::kFailed;
      }
    } else if (fromEnvironment != nullptr) {
      secret = fromEnvironment;
    }
    return RunAtStation(stationUrl, secret, commands, interactive);
  }

  Connection connection;
  if (!connection.Connect(host, port, kConnectTimeoutMs, error)) {
    fprintf(stderr, "zeva-ctl: cannot connect to %s: %s\n", HostAndPort(host, port).c_str(), error.c_str());
    return Session::kNoConnection;
  }
  if (!interactive) WarnIfNotConfigured(commands, args);
  Session session(connection, isatty(STDOUT_FILENO) != 0);
  const int status = RunCommands(connection, session, commands, interactive);
  if (status != Session::kLost) session.Finish();
  return status;
}
