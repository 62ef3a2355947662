// The station's options about naming and calibrating rotators (--name,
// --offset) and its contest logger front (--n1mm, --n1mm-to, --n1mm-allow).
#include <climits>
#include <cstdlib>
#include <set>

#include "core/AddressPrefix.h"
#include "core/StationOptions.h"
#include "tools/CommandLine.h"

namespace {

// Where N1MM Logger+ listens for its rotor program's headings.
constexpr int kLoggerHeadingPort = 13010;
constexpr size_t kMaxName = 32;

using zeva_tools::ToWhole;

// ID:VALUE, ID a rotator number; false when there is no colon or no number.
bool SplitId(const std::string& text, int& id, std::string& value) {
  std::string::size_type colon = text.find(':');
  if (colon == std::string::npos) return false;
  value = text.substr(colon + 1);
  return ToWhole(text.substr(0, colon), INT_MIN, INT_MAX, id);
}

bool Printable(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::string RotorNameKey(const std::string& name) {
  std::string key;
  bool blank = false;
  for (char c : name) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = !key.empty();
      continue;
    }
    if (blank) key += ' ';
    blank = false;
    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}

bool StationOptions::SplitAddressPort(const std::string& text, bool hostFirst, std::string& address,
                                      int& port) {
  std::string::size_type colon = text.rfind(':');
  std::string portText;
  if (colon != std::string::npos && text.find(']', colon) == std::string::npos) {
    address = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } else if (hostFirst) {
    address = text;
  } else {
    portText = text;
  }
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  return !address.empty() && (portText.empty() ? hostFirst : ToWhole(portText, 1, 65535, port));
}

bool StationOptions::ParseLoggerOption(int option, const std::string& text, std::string& error) {
  switch (option) {
    case kName:
      namesGiven.push_back(text);
      return true;
    case kOffset:
      offsetsGiven.push_back(text);
      return true;
    case kN1mm:
      if (!SplitAddressPort(text, false, logger.address, logger.port)) {
        error = "--n1mm " + text + ": expected [ADDRESS:]PORT, PORT 1..65535 (the logger's is 12040)";
        return false;
      }
      return true;
    case kN1mmTo: {
      LoggerSetup::Destination destination;
      destination.port = kLoggerHeadingPort;
      if (!SplitAddressPort(text, true, destination.host, destination.port)) {
        error = "--n1mm-to " + text + ": expected HOST[:PORT], PORT 1..65535 (default 13010)";
        return false;
      }
      logger.headingsTo.push_back(destination);
      return true;
    }
    case kN1mmAllow: {
      AddressPrefix prefix;
      if (!AddressPrefix::Parse(text, prefix)) {
        error = "--n1mm-allow " + text + ": expected an address or ADDRESS/BITS (192.168.1.0/24)";
        return false;
      }
      logger.allowed.push_back(text);
      return true;
    }
    default:
      return false;
  }
}

bool StationOptions::FinishNamesAndLogger(std::string& error) {
  auto find = [&](int id) -> RotatorSetup* {
    for (RotatorSetup& setup : rotators) {
      if (setup.id == id) return &setup;
    }
    return nullptr;
  };
  std::set<int> named, offset;
  std::set<std::string> keys;
  for (const std::string& text : namesGiven) {
    int id = 0;
    std::string name;
    RotatorSetup* setup = nullptr;
    // The name comes back in "NAME @ HEADING" datagrams: no '@' in it.
    if (!SplitId(text, id, name) || RotorNameKey(name).empty() || name.size() > kMaxName ||
        !Printable(name) || name.find('@') != std::string::npos) {
      error = "--name " + text + ": expected ID:NAME, a name of up to 32 characters without '@'";
      return false;
    }
    if ((setup = find(id)) == nullptr || !named.insert(id).second) {
      error = "--name " + text + ": " +
              (setup == nullptr ? "there is no --rotator " + std::to_string(id) : "rotator " +
               std::to_string(id) + " is named twice");
      return false;
    }
    if (!keys.insert(RotorNameKey(name)).second) {
      error = "--name " + text + ": another rotator has this name (case and blanks aside)";
      return false;
    }
    setup->name = name;
  }
  for (const std::string& text : offsetsGiven) {
    int id = 0, degrees = 0;
    std::string value;
    RotatorSetup* setup = nullptr;
    if (!SplitId(text, id, value) || !ToWhole(value, -359, 359, degrees)) {
      error = "--offset " + text + ": expected ID:DEGREES, whole degrees from -359 to 359";
      return false;
    }
    if ((setup = find(id)) == nullptr || !offset.insert(id).second) {
      error = "--offset " + text + ": " +
              (setup == nullptr ? "there is no --rotator " + std::to_string(id) : "rotator " +
               std::to_string(id) + " has two offsets");
      return false;
    }
    setup->offset = degrees;
  }

  if (logger.port == 0) {
    if (!logger.allowed.empty() || !logger.headingsTo.empty()) {
      error = std::string(logger.allowed.empty() ? "--n1mm-to" : "--n1mm-allow") +
              " is for the logger front: give --n1mm [ADDRESS:]PORT too";
      return false;
    }
    return true;
  }
  if (named.empty()) {
    error = "--n1mm: no rotator has a name; give --name ID:NAME with the logger's rotor "
            "description";
    return false;
  }
  // UDP has no login: anyone who can reach the port could turn the antennas.
  if (logger.allowed.empty() && !IsLoopbackAddress(logger.address)) {
    error = "--n1mm " + logger.address + ":" + std::to_string(logger.port) +
            ": other hosts can reach this address and datagrams carry no secret: give "
            "--n1mm-allow ADDR[/BITS] for the logger's host";
    return false;
  }
  return true;
}
