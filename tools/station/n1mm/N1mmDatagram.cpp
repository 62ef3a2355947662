#include "n1mm/N1mmDatagram.h"

#include <expat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Numbers beyond this are no bearing or offset of any logger.
constexpr double kMaxDegrees = 1000;

// Expat salts its hash tables against crafted collisions; left to itself it
// asks the system for a salt with every parser (a system call a datagram).
// One random salt for the process does the same job.
unsigned long HashSalt() {
  static const unsigned long salt = [] {
    std::random_device random;
    return (static_cast<unsigned long>(random()) << 16) ^ random() ^ 1;  // never 0
  }();
  return salt;
}

// The fields of a datagram, by where they stand.
enum Field { kRotor, kGoAzi, kOffset, kBidirectional, kStopRotor, kFieldCount, kNone = -1 };

// What the expat callbacks build. Between callbacks: `path` holds the open
// elements' names, `field` the field being read (kNone outside one), and
// `error` is empty unless the parse has been stopped.
struct Reading {
  XML_Parser parser = nullptr;
  std::vector<std::string> path;
  int field = kNone;
  bool seen[kFieldCount] = {};
  std::string text[kFieldCount];
  bool stop = false;  // a <stop> element came
  std::string error;
};

void Fail(Reading& reading, const std::string& why) {
  if (reading.error.empty()) reading.error = why;
  XML_StopParser(reading.parser, XML_FALSE);
}

int FieldAt(const std::vector<std::string>& path) {
  if (path.size() == 2) {
    const std::string& name = path[1];
    if (name == "rotor") return kRotor;
    if (name == "goazi") return kGoAzi;
    if (name == "offset") return kOffset;
    if (name == "bidirectional") return kBidirectional;
  }
  if (path.size() == 3 && path[1] == "stop" && path[2] == "rotor") return kStopRotor;
  return kNone;
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
  Reading& reading = *static_cast<Reading*>(data);
  if (reading.field != kNone) return Fail(reading, std::string("<") + name + "> inside a value");
  reading.path.emplace_back(name);
  if (reading.path.size() > static_cast<size_t>(N1mmDatagram::kMaxDepth)) {
    return Fail(reading, "elements nested too deep");
  }
  if (reading.path.size() == 1 && reading.path[0] != "N1MMRotor") {
    return Fail(reading, std::string("<") + name + "> is not <N1MMRotor>");
  }
  if (reading.path.size() == 2 && reading.path[1] == "stop") {
    if (reading.stop) return Fail(reading, "stop given twice");
    reading.stop = true;
  }
  int field = FieldAt(reading.path);
  if (field == kNone) return;  // freqband, and what later loggers may add
  if (reading.seen[field]) return Fail(reading, std::string(name) + " given twice");
  reading.seen[field] = true;
  reading.field = field;
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  Reading& reading = *static_cast<Reading*>(data);
  reading.field = kNone;
  if (!reading.path.empty()) reading.path.pop_back();
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  Reading& reading = *static_cast<Reading*>(data);
  if (reading.field != kNone) reading.text[reading.field].append(text, static_cast<size_t>(length));
}

// No document type: nothing to declare, no entity to expand.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  Fail(*static_cast<Reading*>(data), "a document type declaration");
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::string::size_type first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A decimal number, its fraction after a point or a comma ("55.0", "55,0",
// "-12"); false for anything else.
bool Degrees(const std::string& raw, double& value) {
  std::string text = Trimmed(raw);
  std::string::size_type comma = text.find(',');
  if (comma != std::string::npos && text.find('.') == std::string::npos) text[comma] = '.';
  if (text.empty() || text.find_first_not_of("+-.0123456789") != std::string::npos) return false;
  char* end = nullptr;
  value = strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(value) && std::fabs(value) <= kMaxDegrees;
}

}  // namespace

bool N1mmDatagram::Parse(const char* data, size_t size, N1mmCommand& command, std::string& error) {
  if (size > kMaxSize) {
    error = "longer than " + std::to_string(kMaxSize) + " bytes";
    return false;
  }
  Reading reading;
  reading.parser = XML_ParserCreate(nullptr);
  if (reading.parser == nullptr) {
    error = "out of memory";
    return false;
  }
  XML_SetHashSalt(reading.parser, HashSalt());
  XML_SetUserData(reading.parser, &reading);
  XML_SetElementHandler(reading.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(reading.parser, OnText);
  XML_SetStartDoctypeDeclHandler(reading.parser, OnDoctype);
  const bool parsed =
      XML_Parse(reading.parser, data, static_cast<int>(size), XML_TRUE) == XML_STATUS_OK;
  if (!parsed && reading.error.empty()) {
    reading.error = std::string("not well-formed XML: ") +
                    XML_ErrorString(XML_GetErrorCode(reading.parser));
  }
  XML_ParserFree(reading.parser);
  if (!reading.error.empty()) {
    error = reading.error;
    return false;
  }

  N1mmCommand result;
  const bool turnFields = reading.seen[kRotor] || reading.seen[kGoAzi] ||
                          reading.seen[kOffset] || reading.seen[kBidirectional];
  if (reading.stop && turnFields) {
    error = "a stop beside a turn's fields";
    return false;
  }
  result.kind = reading.stop ? N1mmCommand::Kind::Stop : N1mmCommand::Kind::Turn;
  result.rotor = Trimmed(reading.text[reading.stop ? kStopRotor : kRotor]);
  if (result.rotor.empty()) {
    error = "no rotor name";
    return false;
  }
  if (reading.stop) {
    command = result;
    return true;
  }
  if (!reading.seen[kGoAzi] || !Degrees(reading.text[kGoAzi], result.azimuth)) {
    error = reading.seen[kGoAzi] ? "goazi is not a number of degrees" : "no goazi";
    return false;
  }
  if (reading.seen[kOffset] && !Degrees(reading.text[kOffset], result.offset)) {
    error = "offset is not a number of degrees";
    return false;
  }
  if (reading.seen[kBidirectional]) {
    const std::string flag = Trimmed(reading.text[kBidirectional]);
    if (flag != "0" && flag != "1" && flag != "false" && flag != "true") {
      error = "bidirectional is neither 0 nor 1";
      return false;
    }
    result.bidirectional = flag == "1" || flag == "true";
  }
  command = result;
  return true;
}

std::string N1mmDatagram::Heading(const std::string& name, int bearing) {
  const int compass = ((bearing % 360) + 360) % 360;
  return name + " @ " + std::to_string(compass * 10);
}
