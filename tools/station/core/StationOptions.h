// The station's command line: where the daemon is, the rotators to
// configure (with their names and calibration offsets), where to listen for
// rotctld clients, the web page (its secret and presets), the station's
// place and the contest logger front. Parsed once by main() before anything
// starts (which then reads the secret file into `secret`); read-only
// afterwards.
#pragma once

#include <string>
#include <vector>

#include "places/Geodesy.h"

// One rotator as given by --rotator ID:DEVICE:MODEL:POLLMS[:PORT][:MIN..MAX].
struct RotatorSetup {
  int id = 0;              // rotator number in the daemon's CONFIGURE
  std::string device;      // serial device path, passed on unchanged
  int model = 0;           // CONFIGURE model number (1, 2, 4, 5, 8, 9, 12)
  int pollMs = 0;          // polling period handed to CONFIGURE
  int listenPort = 0;      // rotctld port of this rotator
  // The azimuths the rotator can turn to, in whole degrees (0..450 for an
  // overlap rotator, -180..180 for one with its end stop in the south).
  int minAz = 0;
  int maxAz = 360;
  // --name ID:NAME: what the operator calls it, and the contest logger's
  // rotor description of it (empty: none).
  std::string name;
  // --offset ID:DEGREES: the true bearing the box's zero points at, in
  // whole degrees; minAz and maxAz stay the box's own numbers.
  int offset = 0;
};

// The contest logger front (--n1mm [ADDRESS:]PORT): where the logger's rotor
// datagrams come in, who may send them, and where headings go back.
struct LoggerSetup {
  std::string address = "127.0.0.1";
  int port = 0;                        // 0: no logger front
  std::vector<std::string> allowed;    // --n1mm-allow ADDR[/BITS], checked by Parse
  struct Destination {
    std::string host;
    int port = 0;
  };
  std::vector<Destination> headingsTo;  // --n1mm-to HOST[:PORT]
};

// A preset button of the web page: a name and the azimuth it turns to.
struct Preset {
  std::string name;
  double azimuth = 0;
};

class StationOptions {
 public:
  static constexpr int kDefaultBasePort = 4533;

  std::string daemonHost = "127.0.0.1";
  int daemonPort = 0;                          // set to the daemon's port by Parse
  std::string listenAddress = "127.0.0.1";
  int basePort = kDefaultBasePort;
  std::vector<RotatorSetup> rotators;
  // The web page (--http [ADDRESS:]PORT); httpPort 0: no page.
  std::string httpAddress = "127.0.0.1";
  int httpPort = 0;
  std::string secretFile;        // --http-secret-file: the secret asked for turning
  std::string secret;            // read from secretFile by main() before the station starts
  std::vector<Preset> presets;   // --preset NAME:AZIMUTH (N, E, S, W if none)
  // Where the station is (--locator or --position), for bearings to places
  // and following the sun and the moon; placeName empty: not given.
  std::string placeName;         // "JO22ob", "52.10 N, 5.10 E"
  LatLon place;
  std::string countryFile;       // --country-file; empty: the system's cty.dat, if any
  double followStep = 3;         // --follow-step: degrees a followed body moves per turn
  LoggerSetup logger;            // --n1mm, --n1mm-to, --n1mm-allow
  bool verbose = false;   // log every rotctld command and its result code
  bool help = false;      // -h/--help came first: print Usage() and exit 0
  bool version = false;   // -V/--version came first: print the version

  // Parses argv. On a usage error returns false with the reason in `error`.
  // Rotators without a port of their own get basePort, basePort + 2, ... in
  // the order given, skipping ports that other rotators name.
  bool Parse(int argc, char** argv, std::string& error);

  static std::string Usage();

  // Model names the daemon's CONFIGURE numbers go by ("yaesu" -> 4); any
  // case, or the number itself. Returns -1 for an unknown model.
  static int ModelNumber(const std::string& nameOrNumber);
  // A readable name of a model number ("Yaesu GS-232"), "unknown" otherwise.
  static const char* ModelTitle(int model);
  // Whether the model's box reports its position (a DCU-1 never does).
  static bool ModelHasFeedback(int model);

 private:
  bool ParsePreset(const std::string& text, std::string& error);
  bool ParsePlace(bool locator, const std::string& text, std::string& error);
  bool ParseRotator(const std::string& text, RotatorSetup& setup, std::string& error);
  // [ADDRESS:]PORT (--http, --n1mm) or, with `hostFirst`, HOST[:PORT]
  // (--n1mm-to); ADDRESS or HOST may be [IPv6]. `address` and `port` keep
  // their values where the text has none. False when it is neither.
  static bool SplitAddressPort(const std::string& text, bool hostFirst, std::string& address,
                               int& port);
  // getopt_long's codes of --name, --offset and the logger's options.
  enum LoggerOption { kName = 300, kOffset, kN1mm, kN1mmTo, kN1mmAllow };
  // --name, --offset and the logger's options (LoggerOptions.cpp): each
  // option as it comes, then, once every rotator is known, the names and
  // offsets given to them and the logger front's rules.
  bool ParseLoggerOption(int option, const std::string& text, std::string& error);
  bool FinishNamesAndLogger(std::string& error);

  std::vector<std::string> namesGiven;    // --name values, until the rotators are known
  std::vector<std::string> offsetsGiven;  // --offset values, likewise
};

// Whether an address (of the web page, or a Host header's name) reaches
// only this host: localhost, 127.0.0.0/8, ::1.
bool IsLoopbackAddress(const std::string& address);

// The form in which rotor names are compared (--name and the contest
// logger's rotor description): blanks at either end dropped, every run of
// blanks inside one space, ASCII letters in lower case ("  Tri  Band " and
// "tri band" are one name).
std::string RotorNameKey(const std::string& name);
