#include "core/StationOptions.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <set>

#include "common/Common.h"
#include "places/Locator.h"
#include "places/PlaceFinder.h"
#include "tools/CommandLine.h"

namespace {

// Polled models: a shorter period would keep the serial line busy.
constexpr int kMinPollMs = 100;
constexpr int kMaxPollMs = 3600 * 1000;

using zeva_tools::ToWhole;

bool IsPolled(int model) { return model == 2 || model == 4 || model == 5; }

bool IsKnownModel(int model) {
  return model == 1 || model == 2 || model == 4 || model == 5 || model == 8 || model == 9 ||
         model == 12;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  unsigned char bytes[16];
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) return bytes[0] == 127;
  static const unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return inet_pton(AF_INET6, address.c_str(), bytes) == 1 &&
         std::equal(bytes, bytes + 16, kLoopback6);
}

int StationOptions::ModelNumber(const std::string& nameOrNumber) {
  int number = 0;
  if (ToWhole(nameOrNumber, 0, INT_MAX, number)) {
    return IsKnownModel(number) ? number : -1;
  }
  const int byName = zeva_tools::ModelByName(nameOrNumber);
  return byName != 0 ? byName : -1;
}

const char* StationOptions::ModelTitle(int model) {
  switch (model) {
    case 1: return "DCU-1";
    case 2: return "Rotor-EZ";
    case 4: return "Yaesu GS-232";
    case 5: return "Alfa SPID";
    case 8: return "RC2800 PA";
    case 9: return "RC2800 PX";
    case 12: return "Prosistel D";
    default: return "unknown";
  }
}

bool StationOptions::ModelHasFeedback(int model) { return model != 1; }

// ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX]. Device paths may hold colons
// themselves (/dev/serial/by-path/...-usb-0:1.2:1.0-port0), so the fields
// are taken from both ends: the first is the number; a last field with ".."
// is the azimuth range; of the rest, the last three are MODEL, POLLMS and
// PORT when the third from the end names a model and there are at least
// five fields; otherwise the last two are MODEL and POLLMS.
bool StationOptions::ParseRotator(const std::string& text, RotatorSetup& setup,
                                 std::string& error) {
  std::vector<std::string> fields = Split(text, ':');
  if (!text.empty() && text.back() == ':') fields.push_back("");
  if (fields.size() >= 5 && fields.back().find("..") != std::string::npos) {
    const std::string range = fields.back();
    std::string::size_type dots = range.find("..");
    // Whole degrees, at most two turns, within a turn of north either way.
    if (!ToWhole(range.substr(0, dots), -360, 360, setup.minAz) ||
        !ToWhole(range.substr(dots + 2), setup.minAz + 1, setup.minAz + 720, setup.maxAz) ||
        setup.maxAz > 720) {
      error = "--rotator " + text + ": azimuth range '" + range +
              "' must be MIN..MAX in whole degrees, MIN from -360, MAX above it up to 720, "
              "at most 720 apart";
      return false;
    }
    fields.pop_back();
  }
  if (fields.size() < 4) {
    error = "--rotator " + text + ": expected ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX]";
    return false;
  }
  size_t tail = 2;
  if (fields.size() >= 5 && ModelNumber(fields[fields.size() - 3]) >= 0) tail = 3;
  const std::string& idText = fields.front();
  const std::string& modelText = fields[fields.size() - tail];
  const std::string& pollText = fields[fields.size() - tail + 1];
  std::string device;
  for (size_t i = 1; i < fields.size() - tail; ++i) {
    if (i > 1) device += ':';
    device += fields[i];
  }
  if (!ToWhole(idText, INT_MIN, INT_MAX, setup.id)) {
    error = "--rotator " + text + ": rotator number '" + idText + "' is not a number";
    return false;
  }
  // The daemon cuts its command lines at blanks and carriage returns.
  if (device.empty() || device.find_first_of(" \t\r\n") != std::string::npos) {
    error = "--rotator " + text + ": the device path must be non-empty, without blanks";
    return false;
  }
  setup.device = device;
  setup.model = ModelNumber(modelText);
  if (setup.model < 0) {
    error = "--rotator " + text + ": unknown model '" + modelText +
            "' (dcu1, rotorez, yaesu, spid, rc2800pa, rc2800px, prosistel or 1, 2, 4, 5, 8, 9, 12)";
    return false;
  }
  if (!ToWhole(pollText, 0, kMaxPollMs, setup.pollMs) ||
      (IsPolled(setup.model) && setup.pollMs < kMinPollMs)) {
    error = "--rotator " + text + ": poll period '" + pollText + "' must be a number of ms" +
            (IsPolled(setup.model) ? " from 100" : "") + " up to 3600000";
    return false;
  }
  setup.listenPort = 0;
  if (tail == 3 && !ToWhole(fields.back(), 1, 65535, setup.listenPort)) {
    error = "--rotator " + text + ": port '" + fields.back() + "' must be 1..65535";
    return false;
  }
  return true;
}

// NAME:AZIMUTH; the name is what the button shows.
bool StationOptions::ParsePreset(const std::string& text, std::string& error) {
  std::string::size_type colon = text.rfind(':');
  Preset preset;
  char* end = nullptr;
  if (colon != std::string::npos) {
    preset.name = text.substr(0, colon);
    preset.azimuth = strtod(text.c_str() + colon + 1, &end);
  }
  bool printable = std::all_of(preset.name.begin(), preset.name.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
  });
  if (colon == std::string::npos || preset.name.empty() || preset.name.size() > 24 ||
      !printable || end == text.c_str() + colon + 1 || *end != '\0' ||
      !(preset.azimuth >= -360 && preset.azimuth <= 720)) {
    error = "--preset " + text + ": expected NAME:AZIMUTH, a name of up to 24 characters and "
            "an azimuth from -360 to 720";
    return false;
  }
  presets.push_back(preset);
  return true;
}

// --locator or --position: the station's place.
bool StationOptions::ParsePlace(bool locator, const std::string& text, std::string& error) {
  if (!placeName.empty()) {
    error = "--locator and --position: give the station's place once";
    return false;
  }
  if (locator ? !LocatorCentre(text, place) : !ParsePosition(text, place)) {
    error = locator ? "--locator " + text + ": expected a Maidenhead locator of 4, 6, 8 or 10 characters (JO22ob)"
                    : "--position " + text + ": expected LATITUDE,LONGITUDE in degrees (52.1,5.1 or 33.9S,151.2E)";
    return false;
  }
  placeName = locator ? LocatorOf(place, static_cast<int>(text.size())) : text;
  return true;
}

bool StationOptions::Parse(int argc, char** argv, std::string& error) {
  daemonPort = zeva::kTcpPort;
  enum { kHost = 256, kPort, kListen, kBasePort, kHttp, kSecretFile, kPreset, kLocator, kPosition,
         kCountryFile, kFollowStep };
  static const struct option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},           {"version", no_argument, nullptr, 'V'},
      {"verbose", no_argument, nullptr, 'v'},        {"rotator", required_argument, nullptr, 'r'},
      {"host", required_argument, nullptr, kHost},   {"port", required_argument, nullptr, kPort},
      {"listen", required_argument, nullptr, kListen}, {"base-port", required_argument, nullptr, kBasePort},
      {"http", required_argument, nullptr, kHttp},   {"http-secret-file", required_argument, nullptr, kSecretFile},
      {"preset", required_argument, nullptr, kPreset},
      {"locator", required_argument, nullptr, kLocator}, {"position", required_argument, nullptr, kPosition},
      {"country-file", required_argument, nullptr, kCountryFile},
      {"follow-step", required_argument, nullptr, kFollowStep},
      {"name", required_argument, nullptr, kName},   {"offset", required_argument, nullptr, kOffset},
      {"n1mm", required_argument, nullptr, kN1mm},   {"n1mm-to", required_argument, nullptr, kN1mmTo},
      {"n1mm-allow", required_argument, nullptr, kN1mmAllow},
      {nullptr, 0, nullptr, 0},
  };
  zeva_tools::RestartGetopt();
  opterr = 0;
  for (;;) {
    int word = zeva_tools::GetoptWord();
    int option = getopt_long(argc, argv, "+:hVvr:", kOptions, nullptr);
    if (option == -1) break;
    const std::string text = optarg != nullptr ? optarg : "";
    switch (option) {
      case 'h': help = true; return true;
      case 'V': version = true; return true;
      case 'v': verbose = true; break;
      case kHost: daemonHost = text; break;
      case kPort:
        if (!ToWhole(text, 1, 65535, daemonPort)) {
          error = "--port " + text + ": must be 1..65535";
          return false;
        }
        break;
      case kListen: listenAddress = text; break;
      case kBasePort:
        if (!ToWhole(text, 1, 65535, basePort)) {
          error = "--base-port " + text + ": must be 1..65535";
          return false;
        }
        break;
      case kHttp:
        if (!SplitAddressPort(text, false, httpAddress, httpPort)) {
          error = "--http " + text + ": expected [ADDRESS:]PORT, PORT 1..65535";
          return false;
        }
        break;
      case kSecretFile: secretFile = text; break;
      case kPreset:
        if (!ParsePreset(text, error)) return false;
        break;
      case kLocator:
      case kPosition:
        if (!ParsePlace(option == kLocator, text, error)) return false;
        break;
      case kFollowStep: {
        char* end = nullptr;
        followStep = strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(followStep >= 0.1 && followStep <= 90)) {
          error = "--follow-step " + text + ": expected degrees from 0.1 to 90";
          return false;
        }
        break;
      }
      case kCountryFile: countryFile = text; break;
      case kName:
      case kOffset:
      case kN1mm:
      case kN1mmTo:
      case kN1mmAllow:
        if (!ParseLoggerOption(option, text, error)) return false;
        break;
      case 'r': {
        RotatorSetup setup;
        if (!ParseRotator(text, setup, error)) return false;
        rotators.push_back(setup);
        break;
      }
      default:
        error = zeva_tools::GetoptMistake(option, argv[word], kOptions);
        return false;
    }
  }
  if (optind < argc) {
    error = std::string("unexpected argument '") + argv[optind] + "'";
    return false;
  }
  if (rotators.empty()) {
    error = "no rotator given (--rotator ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX])";
    return false;
  }

  if (httpPort == 0 && (!secretFile.empty() || !presets.empty())) {
    error = std::string(presets.empty() ? "--http-secret-file" : "--preset") +
            " is for the web page: give --http [ADDRESS:]PORT too";
    return false;
  }
  if (httpPort == 0 && (!placeName.empty() || !countryFile.empty())) {
    error = std::string(placeName.empty() ? "--country-file" : "--locator or --position") +
            " is for the web page and its API: give --http [ADDRESS:]PORT too";
    return false;
  }
  if (httpPort != 0 && secretFile.empty() && !IsLoopbackAddress(httpAddress)) {
    error = "--http " + httpAddress + ":" + std::to_string(httpPort) +
            ": other hosts can reach this address, so turning must ask for a secret: "
            "give --http-secret-file FILE";
    return false;
  }
  if (httpPort != 0 && presets.empty()) {
    presets = {{"N", 0}, {"E", 90}, {"S", 180}, {"W", 270}};
  }

  std::set<int> ids;
  std::set<std::string> devices;
  std::set<int> ports;
  for (const RotatorSetup& setup : rotators) {
    if (!ids.insert(setup.id).second) {
      error = "rotator " + std::to_string(setup.id) + " is given twice";
      return false;
    }
    if (!devices.insert(setup.device).second) {
      error = "device " + setup.device + " is given twice";
      return false;
    }
    if (setup.listenPort != 0 && !ports.insert(setup.listenPort).second) {
      error = "port " + std::to_string(setup.listenPort) + " is given twice";
      return false;
    }
  }
  // rotctld ports go in steps of two (4533, 4535, ...): rigctld's 4532,
  // 4534, ... stay free.
  int next = basePort;
  for (RotatorSetup& setup : rotators) {
    if (setup.listenPort != 0) continue;
    while (ports.count(next) != 0) next += 2;
    if (next > 65535) {
      error = "no port left above --base-port " + std::to_string(basePort);
      return false;
    }
    setup.listenPort = next;
    ports.insert(next);
    next += 2;
  }
  return FinishNamesAndLogger(error);
}

std::string StationOptions::Usage() {
  return
      "Usage: zeva-station [OPTIONS] --rotator ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX] ...\n"
      "\n"
      "Lets programs that speak Hamlib's rotctld protocol (Gpredict, rotctl -m 2,\n"
      "station software) and contest loggers (N1MM Logger+'s rotor datagrams)\n"
      "drive rotators of the zeva-rotator daemon. The station is\n"
      "the daemon's client: it configures the rotators itself, keeps the\n"
      "connection, and reconnects and configures them again when it drops. Each\n"
      "rotator gets its own rotctld port; several programs may use one port.\n"
      "A rotator whose device path is gone is offline (p, P, S answer RPRT -6)\n"
      "until the path is back: name devices by /dev/serial/by-id/... .\n"
      "\n"
      "  -r, --rotator ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX]\n"
      "        a rotator: its number, serial device, model (dcu1, rotorez, yaesu,\n"
      "        spid, rc2800pa, rc2800px, prosistel or the number 1, 2, 4, 5, 8, 9,\n"
      "        12), polling period in ms (from 100 for rotorez, yaesu, spid),\n"
      "        rotctld port (default: the base port, then +2 for each rotator)\n"
      "        and azimuth range in degrees (default 0..360; 0..450 for an overlap\n"
      "        rotator, -180..180 for a south stop)\n"
      "  --host HOST        daemon host (default 127.0.0.1)\n"
      "  --port PORT        daemon port (default 13020)\n"
      "  --listen ADDRESS   address of the rotctld ports (default 127.0.0.1)\n"
      "  --base-port PORT   first rotctld port (default 4533)\n"
      "  --http [ADDRESS:]PORT\n"
      "                     serve the station's web page (default ADDRESS\n"
      "                     127.0.0.1); any other address needs a secret\n"
      "  --http-secret-file FILE\n"
      "                     the page asks for the secret in FILE (its first line)\n"
      "                     before it turns or stops anything\n"
      "  --preset NAME:AZIMUTH\n"
      "                     a preset button on the page (repeatable; default\n"
      "                     N:0 E:90 S:180 W:270)\n"
      "  --locator LOCATOR  the station's place as a Maidenhead locator (JO22ob),\n"
      "  --position LAT,LON or in degrees (52.1,5.1; 33.9S,151.2E): the page\n"
      "                     then aims at places and follows the sun and the moon\n"
      "  --country-file FILE\n"
      "                     the cty.dat country file that callsigns and prefixes\n"
      "                     are looked up in (default\n"
      "                     /usr/share/hamradio-files/cty.dat, if there)\n"
      "  --follow-step DEGREES\n"
      "                     how far a followed sun or moon moves before the\n"
      "                     rotator turns after it (default 3)\n"
      "  --name ID:NAME     a name for rotator ID (repeatable), shown on the page;\n"
      "                     for a contest logger, its rotor description (any\n"
      "                     case; blanks at either end and doubled ones ignored)\n"
      "  --offset ID:DEGREES\n"
      "                     the true bearing the box of rotator ID reads as 0\n"
      "                     (repeatable): every program then sees and sends true\n"
      "                     bearings; the range stays in the box's own numbers\n"
      "  --n1mm [ADDRESS:]PORT\n"
      "                     take N1MM Logger+ rotor datagrams on this UDP port\n"
      "                     (the logger sends to 12040; ADDRESS default 127.0.0.1)\n"
      "  --n1mm-allow ADDR[/BITS]\n"
      "                     take them only from there (repeatable; required when\n"
      "                     ADDRESS is not a loopback address)\n"
      "  --n1mm-to HOST[:PORT]\n"
      "                     send the named rotators' headings there as \"NAME @\n"
      "                     HEADING\" datagrams (repeatable; PORT default 13010)\n"
      "  -v, --verbose      log every rotctld command\n"
      "  -V, --version      print the version\n"
      "  -h, --help         this text\n"
      "\n"
      "Example:\n"
      "  zeva-station --rotator 1:/dev/ttyUSB0:yaesu:1000 --rotator 2:/dev/ttyUSB1:spid:500\n"
      "  rotctl -m 2 -r 127.0.0.1:4533 P 90 0\n"
      "  zeva-station --http 8080 --preset EU:45 --rotator 1:/dev/ttyUSB0:yaesu:1000\n"
      "      (then open http://127.0.0.1:8080/)\n"
      "  zeva-station --n1mm 12040 --n1mm-to 127.0.0.1 --name 1:Yagi --offset 1:12 \\\n"
      "      --rotator 1:/dev/ttyUSB0:yaesu:1000\n"
      "\n"
      "Logs go to standard error. Stops on SIGINT or SIGTERM (exit status 0);\n"
      "exit status 1 when a port, the secret file or a --country-file cannot be\n"
      "opened, 2 on a usage error.\n";
}
