// The emulator's command line: what model to play, how the antenna moves,
// and which faults to inject.
#pragma once

#include <string>

struct BoxOptions {
  int model = 4;              // CONFIGURE model number
  double speed = 6.0;         // degrees per second
  int start = 0;              // initial azimuth
  int startElevation = 0;     // initial elevation
  int minAzimuth = 0;         // --range: the azimuth's end stops, in the box's numbers
  int maxAzimuth = 359;
  std::string pathFile;       // also write the device path here
  std::string linkPath;       // keep a symlink here to the current device
  bool verbose = false;       // trace traffic on standard error
  int garbage = 0;            // random bytes before every reply
  unsigned seed = 1;          // for the garbage bytes
  bool silent = false;        // never reply
  int slowMs = 0;             // delay between reply bytes
  bool split = false;         // one write per reply byte
  double vanishAfter = -1;    // seconds until the device goes away; < 0: never

  // Fills the options from argv. Returns -1 to go on, or an exit status
  // (0 after --help, 1 after a usage error, with the message printed).
  int Parse(int argc, char** argv);

  static void PrintHelp();
};
