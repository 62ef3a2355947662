#include "rotctld/RotctlParser.h"

#include <cctype>
#include <cstring>

namespace {

struct CommandEntry {
  char shortName;        // '\0': the command has only a long name
  const char* longName;
  int argCount;
  RotctlAction action;
};

// The commands of rotctld, with the number of arguments each takes, so that
// a refused command's arguments are not mistaken for further commands.
const CommandEntry kCommands[] = {
    {'P', "set_pos", 2, RotctlAction::SetPos},
    {'p', "get_pos", 0, RotctlAction::GetPos},
    {'S', "stop", 0, RotctlAction::Stop},
    {'_', "get_info", 0, RotctlAction::GetInfo},
    {'\0', "dump_state", 0, RotctlAction::DumpState},
    {'1', "dump_caps", 0, RotctlAction::DumpCaps},
    {'q', "quit", 0, RotctlAction::Quit},
    {'Q', "exit", 0, RotctlAction::Quit},
    {'K', "park", 0, RotctlAction::Refused},
    {'M', "move", 2, RotctlAction::Refused},
    {'R', "reset", 1, RotctlAction::Refused},
    {'C', "set_conf", 2, RotctlAction::Refused},
    {'w', "send_cmd", 1, RotctlAction::Refused},
    {'L', "lonlat2loc", 3, RotctlAction::Refused},
    {'l', "loc2lonlat", 1, RotctlAction::Refused},
    {'D', "dms2dec", 4, RotctlAction::Refused},
    {'d', "dec2dms", 1, RotctlAction::Refused},
    {'E', "dmmm2dec", 3, RotctlAction::Refused},
    {'e', "dec2dmmm", 1, RotctlAction::Refused},
    {'B', "qrb", 4, RotctlAction::Refused},
    {'A', "a_sp2a_lp", 1, RotctlAction::Refused},
    {'a', "d_sp2d_lp", 1, RotctlAction::Refused},
    {'\0', "pause", 1, RotctlAction::Refused},
};

const CommandEntry* Find(const std::string& word) {
  bool longForm = word.size() > 1 && word[0] == '\\';
  std::string name = longForm ? word.substr(1) : word;
  for (const CommandEntry& entry : kCommands) {
    if (!longForm && name.size() == 1) {
      if (entry.shortName == name[0]) return &entry;
    } else if (name == entry.longName) {
      // Long names are also taken without the backslash.
      return &entry;
    }
  }
  return nullptr;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

bool RotctlParser::IsExtendedPrefix(char c) {
  return ispunct(static_cast<unsigned char>(c)) && c != '\\' && c != '?' && c != '_' && c != '#';
}

std::vector<RotctlRequest> RotctlParser::ParseLine(const std::string& line) {
  std::vector<std::string> words = Words(line);
  std::vector<RotctlRequest> requests;
  bool extended = false;
  char separator = '\n';
  size_t next = 0;
  while (next < words.size()) {
    std::string word = words[next++];
    if (word[0] == '#') break;
    if (IsExtendedPrefix(word[0])) {
      extended = true;
      separator = word[0] == '+' ? '\n' : word[0];
      word.erase(0, 1);
      if (word.empty()) continue;  // "+ p": the prefix stands alone
    }
    RotctlRequest request;
    request.extended = extended;
    request.separator = separator;
    extended = false;
    separator = '\n';

    const CommandEntry* entry = Find(word);
    if (entry == nullptr) {
      request.action = RotctlAction::Unknown;
      request.name = word[0] == '\\' && word.size() > 1 ? word.substr(1) : word;
      // Its arguments cannot be told from the next command: take the rest.
      request.args.assign(words.begin() + static_cast<long>(next), words.end());
      next = words.size();
    } else {
      request.action = entry->action;
      request.name = entry->longName;
      size_t count = static_cast<size_t>(entry->argCount);
      size_t available = words.size() - next;
      if (available < count) {
        request.missingArgs = true;
        count = available;
      }
      request.args.assign(words.begin() + static_cast<long>(next),
                          words.begin() + static_cast<long>(next + count));
      next += count;
    }
    requests.push_back(request);
  }
  return requests;
}
