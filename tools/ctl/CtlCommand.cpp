#include "CtlCommand.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include "tools/CommandLine.h"

namespace {

using zeva_tools::Lower;

bool ToInt(const std::string& text, int& value) { return zeva_tools::ToWhole(text, INT_MIN, INT_MAX, value); }

bool ToSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = strtod(text.c_str(), &end);
  return *end == '\0' && value >= 0 && value < 1e7;
}

}  // namespace

int CtlCommand::ModelNumber(const std::string& nameOrNumber) {
  int number = 0;
  if (ToInt(nameOrNumber, number)) return number < 0 ? -1 : number;
  const int byName = zeva_tools::ModelByName(nameOrNumber);
  return byName != 0 ? byName : -1;
}

std::string CtlCommand::ModelNames() {
  return "dcu1 (1), rotorez (2), yaesu (4), spid (5), rc2800pa (8), rc2800px (9), prosistel (12)";
}

std::string CtlCommand::Line() const {
  switch (kind) {
    case Kind::Configure:
      return "CONFIGURE " + std::to_string(id) + " " + device + " " + std::to_string(model) + " " +
             std::to_string(pollMs);
    case Kind::Rotate: return "ROTATE " + std::to_string(id) + " " + std::to_string(degrees);
    case Kind::Stop: return "STOP " + std::to_string(id);
    case Kind::Version: return "VERSION";
    case Kind::Raw: return text;
    default: return std::string();
  }
}

std::vector<std::vector<std::string>> CtlCommand::SplitCommands(const std::vector<std::string>& args) {
  std::vector<std::vector<std::string>> commands(1);
  for (const std::string& arg : args) {
    if (arg == ",") {
      commands.emplace_back();
    } else if (arg.size() > 1 && arg.back() == ',') {
      commands.back().push_back(arg.substr(0, arg.size() - 1));
      commands.emplace_back();
    } else {
      commands.back().push_back(arg);
    }
  }
  std::vector<std::vector<std::string>> nonEmpty;
  for (auto& command : commands) {
    if (!command.empty()) nonEmpty.push_back(command);
  }
  return nonEmpty;
}

bool CtlCommand::Parse(const std::vector<std::string>& words, CtlCommand& command, std::string& error) {
  command = CtlCommand();
  if (words.empty()) {
    error = "empty command";
    return false;
  }
  const std::string verb = Lower(words[0]);
  const size_t count = words.size();
  auto needs = [&](size_t n, const char* usage) {
    if (count == n) return true;
    error = std::string("usage: ") + usage;
    return false;
  };
  auto number = [&](size_t index, int& out, const char* what) {
    if (ToInt(words[index], out)) return true;
    error = std::string(what) + " must be a whole number, not '" + words[index] + "'";
    return false;
  };

  if (verb == "configure") {
    command.kind = Kind::Configure;
    if (!needs(5, "configure ID DEVICE MODEL POLLMS")) return false;
    if (!number(1, command.id, "ID") || !number(4, command.pollMs, "POLLMS")) return false;
    command.device = words[2];
    if (command.device.find_first_of(" \t\r\n") != std::string::npos) {
      error = "the device path must not contain blanks";
      return false;
    }
    command.model = ModelNumber(words[3]);
    if (command.model < 0) {
      error = "unknown model '" + words[3] + "'; use a number or one of " + ModelNames();
      return false;
    }
  } else if (verb == "rotate" || verb == "turn") {
    command.kind = Kind::Rotate;
    command.longPath = count == 4 && Lower(words[3]) == "--long";
    if (count != 3 && !command.longPath) {
      error = "usage: rotate ID DEGREES, or through a station rotate ID PLACE [--long]";
      return false;
    }
    if (!number(1, command.id, "ID")) return false;
    // A number is degrees (a bad one is said so); anything else names a place.
    const std::string& target = words[2];
    if (target.find_first_not_of("0123456789+-.") != std::string::npos) {
      command.place = target;
    } else if (command.longPath) {
      error = "--long is for places (rotate ID PLACE --long)";
      return false;
    } else if (!number(2, command.degrees, "DEGREES")) {
      return false;
    }
  } else if (verb == "follow") {
    command.kind = Kind::Follow;
    if (!needs(3, "follow ID sun|moon")) return false;
    if (!number(1, command.id, "ID")) return false;
    command.body = Lower(words[2]);
    if (command.body != "sun" && command.body != "moon") {
      error = "follow: the sun or the moon, not '" + words[2] + "'";
      return false;
    }
  } else if (verb == "stop") {
    command.kind = Kind::Stop;
    if (!needs(2, "stop ID|all")) return false;
    command.all = Lower(words[1]) == "all";
    if (!command.all && !number(1, command.id, "ID")) return false;
  } else if (verb == "version") {
    command.kind = Kind::Version;
    if (!needs(1, "version")) return false;
  } else if (verb == "status") {
    command.kind = Kind::Status;
    if (!needs(1, "status")) return false;
  } else if (verb == "raw") {
    command.kind = Kind::Raw;
    if (count < 2) {
      error = "usage: raw TEXT";
      return false;
    }
    for (size_t i = 1; i < count; ++i) command.text += (i > 1 ? " " : "") + words[i];
    if (command.text.find('\r') != std::string::npos) {
      error = "raw text must not contain a carriage return";
      return false;
    }
  } else if (verb == "wait") {
    command.kind = Kind::Wait;
    command.seconds = kDefaultWaitTimeout;
    if (count < 3) {
      error = "usage: wait ID DEGREES [--tolerance N] [--timeout SECONDS]";
      return false;
    }
    if (!number(1, command.id, "ID") || !number(2, command.degrees, "DEGREES")) return false;
    for (size_t i = 3; i < count; ++i) {
      std::string option = words[i];
      if (i + 1 >= count) {
        error = "wait: " + option + " needs a value";
        return false;
      }
      if (option == "--tolerance") {
        if (!number(++i, command.tolerance, "--tolerance") || command.tolerance < 0) {
          error = "--tolerance must be a whole number of degrees, 0 or more";
          return false;
        }
      } else if (option == "--timeout") {
        if (!ToSeconds(words[++i], command.seconds)) {
          error = "--timeout must be a number of seconds";
          return false;
        }
      } else {
        error = "wait: unknown option '" + option + "'";
        return false;
      }
    }
  } else if (verb == "watch") {
    command.kind = Kind::Watch;
    if (count == 2 || (count == 3 && words[1] == "--for")) {
      if (!ToSeconds(words[count - 1], command.seconds)) {
        error = "watch: the duration must be a number of seconds";
        return false;
      }
    } else if (count != 1) {
      error = "usage: watch [--for SECONDS]";
      return false;
    }
  } else if (verb == "sleep") {
    command.kind = Kind::Sleep;
    if (!needs(2, "sleep SECONDS")) return false;
    if (!ToSeconds(words[1], command.seconds)) {
      error = "sleep: the duration must be a number of seconds";
      return false;
    }
  } else if (verb == "echo") {
    command.kind = Kind::Echo;
    for (size_t i = 1; i < count; ++i) command.text += (i > 1 ? " " : "") + words[i];
  } else if (verb == "help" || verb == "?") {
    command.kind = Kind::Help;
    command.interactiveOnly = true;
  } else if (verb == "quit" || verb == "exit") {
    command.kind = Kind::Quit;
    command.interactiveOnly = true;
  } else {
    error = "unknown command '" + words[0] + "'";
    return false;
  }
  return true;
}
