// What the three tools share about their command lines: getopt_long() scans
// them (with an option string starting "+:", so it stops at the first word
// that is not an option and reports a missing value as ':'), and these turn
// where it stopped into the usage message each tool prints its own way; how
// a whole number in an option's value is read; and the rotator models' names.
#pragma once

#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zeva_tools {

// Starts a new scan; the tests parse several command lines in one process.
inline void RestartGetopt() {
#if defined(__GLIBC__)
  optind = 0;  // glibc forgets its state only at 0
#else
  optreset = 1;
  optind = 1;
#endif
}

// The word getopt_long() is about to scan: call before it and hand the
// result to GetoptMistake() when it fails.
inline int GetoptWord() { return optind > 0 ? optind : 1; }

// The message for getopt_long()'s ':' (a value is missing) or '?' (unknown
// option, or a value given to an option that takes none). `word` is the
// argument it was scanning.
inline std::string GetoptMistake(int result, const char* word, const struct option* options) {
  std::string text = word != nullptr ? word : "";
  bool isLong = text.compare(0, 2, "--") == 0;
  std::string name = isLong ? text.substr(0, text.find('=')) : std::string("-") + static_cast<char>(optopt);
  if (result == ':') return "option " + name + " needs a value";
  if (isLong) {
    // Long options may be shortened: count the ones `name` could mean.
    int matches = 0;
    for (const struct option* known = options; known->name != nullptr; ++known) {
      if (strncmp(known->name, name.c_str() + 2, name.size() - 2) != 0) continue;
      if (strlen(known->name) == name.size() - 2) {
        matches = 1;
        break;
      }
      ++matches;
    }
    if (matches > 1) return "ambiguous option '" + name + "'";
    if (matches == 1) return "option " + name + " takes no value";
  }
  return "unknown option '" + name + "'";
}

// `text` as a whole number from `low` to `high` (in decimal, signed as
// strtol() takes it, nothing after it); false for anything else.
inline bool ToWhole(const std::string& text, long low, long high, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long number = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

inline std::string Lower(const std::string& text) {
  std::string out;
  for (char c : text) out += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return out;
}

// The daemon's model number for a model's name as zeva-ctl and zeva-station
// take it, in any case ("yaesu", "GS232", "rotor-ez"); 0 for no model's.
inline int ModelByName(const std::string& name) {
  static const struct {
    const char* name;
    int number;
  } kModels[] = {
      {"dcu1", 1},     {"dcu-1", 1},      {"rotorez", 2},  {"rotor-ez", 2},  {"yaesu", 4},
      {"gs232", 4},    {"spid", 5},       {"alfaspid", 5}, {"rc2800pa", 8},  {"rc2800px", 9},
      {"prosistel", 12}, {"prosisteld", 12},
  };
  const std::string lower = Lower(name);
  for (const auto& model : kModels) {
    if (lower == model.name) return model.number;
  }
  return 0;
}

}  // namespace zeva_tools
