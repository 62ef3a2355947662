#include "BoxOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BoxModel.h"
#include "common/Common.h"
#include "tools/CommandLine.h"

namespace {

bool ToDouble(const char* text, double& value) {
  char* end = nullptr;
  value = strtod(text, &end);
  return end != text && *end == '\0';
}

bool ToInt(const char* text, int& value) {
  char* end = nullptr;
  long number = strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < -1000000 || number > 1000000) return false;
  value = static_cast<int>(number);
  return true;
}

// "MIN..MAX" with MIN below MAX, each within two turns either way.
bool ToRange(const char* text, int& low, int& high) {
  const char* dots = strstr(text, "..");
  if (dots == nullptr) return false;
  std::string first(text, static_cast<size_t>(dots - text));
  return ToInt(first.c_str(), low) && ToInt(dots + 2, high) && low < high && low >= -720 &&
         high <= 720;
}

int Usage(const char* message, const char* argument) {
  fprintf(stderr, "zeva-boxsim: %s%s%s\nTry 'zeva-boxsim --help'.\n", message, argument ? ": " : "",
          argument ? argument : "");
  return 1;
}

}  // namespace

void BoxOptions::PrintHelp() {
  printf(
      "Usage: zeva-boxsim [OPTIONS]\n"
      "\n"
      "Emulates a rotator controller box on a pseudo-terminal, for trying and\n"
      "testing zeva-rotator without hardware. The first line on standard output\n"
      "is the device path to give to CONFIGURE (then nothing else is written to\n"
      "standard output); the log goes to standard error.\n"
      "\n"
      "Options:\n"
      "  -m, --model MODEL     box to emulate, by name or CONFIGURE number\n"
      "                        (default yaesu):\n");
  for (const BoxModel::Info& info : BoxModel::Models()) {
    printf("                          %-10s %2d  %s, %d baud\n", info.name, info.number, info.title, info.baudRate);
  }
  printf(
      "  -s, --speed DEG       turning speed in degrees per second (default 6)\n"
      "      --start DEG       initial azimuth (default 0)\n"
      "      --range MIN..MAX  the azimuth's end stops in the box's own numbers\n"
      "                        (default 0..359; 0..450 for an overlap rotator)\n"
      "      --start-el DEG    initial elevation (default 0; Yaesu only)\n"
      "      --path-file FILE  also write the device path and a newline to FILE\n"
      "      --link PATH       keep a symbolic link at PATH to the current device\n"
      "                        (a stable name, as /dev/serial/by-id/... is)\n"
      "  -v, --log             log received and sent bytes and the antenna's\n"
      "                        moves on standard error, with time stamps\n"
      "\n"
      "Fault injection:\n"
      "      --garbage N       send N random bytes before every reply\n"
      "      --seed N          seed for the random bytes (default 1)\n"
      "      --silent          never reply (commands still move the antenna)\n"
      "      --slow MS         send replies one byte at a time, MS ms apart\n"
      "      --split           send every reply byte in a write of its own\n"
      "      --vanish-after S  after S seconds close the device and exit 0, as\n"
      "                        if the box had been unplugged\n"
      "  SIGUSR1               unplug (close the device, remove the --link) or,\n"
      "                        when unplugged, plug back in (a new device, the\n"
      "                        --link pointed at it); the antenna keeps its place\n"
      "  SIGUSR2               switch the controller off (the device stays: bytes\n"
      "                        are taken and ignored, nothing is answered, the\n"
      "                        antenna stops) or back on\n"
      "\n"
      "  -V, --version         print the version\n"
      "  -h, --help            this text\n"
      "\n"
      "Motion: the antenna turns at the set speed straight toward its target and\n"
      "never across an end stop (by default at north: 0..359), so 350 -> 10 goes\n"
      "round through 180. Targets outside the --range are clamped (elevation\n"
      "0..180). A stop command halts it where it is.\n"
      "\n"
      "Replies, per model (CR = 0x0D, LF = 0x0A, STX = 0x02; nnn = azimuth as\n"
      "three digits; s = speed in whole degrees per second):\n"
      "  dcu1, rotorez  \"AP1nnn;\" sets the target, \"AM1;\" starts the move,\n"
      "                 \"AP1nnn\" CR sets and starts, \";\" stops;\n"
      "                 \"AI1;\" is answered \";nnn\" (also by dcu1)\n"
      "  yaesu          \"Mnnn\" CR turns, \"Waaa eee\" CR turns both axes, \"S\" CR\n"
      "                 stops (\"A\"/\"E\" one axis); \"C\" CR is answered \"AZ=nnn\" CR LF,\n"
      "                 \"C2\" CR \"AZ=aaa  EL=eee\" CR LF, \"B\" CR \"EL=eee\" CR LF;\n"
      "                 unknown commands \"?>\" CR LF\n"
      "  spid           13-byte frames 'W', 3 digits of bearing+360, 7 NULs,\n"
      "                 command (0x2F set, 0x0F stop, 0x1F status), 0x20;\n"
      "                 stop and status are answered 'W', 3 digits of\n"
      "                 azimuth+360, 0x20 (5 bytes)\n"
      "  rc2800pa       \"nnn\" CR turns, \"S\" CR stops, \"N\" CR is logged; \"U\" CR is\n"
      "                 answered \"A A=nnn S=s MOVE\" CR (STOP when idle)\n"
      "  rc2800px       \"Annn\" CR turns (\"MOTOR ON\" CR is sent), \"S\" CR stops;\n"
      "                 while turning \"A=nnn S=s MOVE\" CR every 250 ms unasked,\n"
      "                 and \"A=nnn S=s STOP\" CR when the move ends; an empty line\n"
      "                 is answered \"MODE PX\" CR and a position line\n"
      "  prosistel      STX \"AGnnn\" CR turns (977 stops); STX \"AM\" CR and\n"
      "                 STX \"A?\" CR are answered STX \"A,?,nnn,R\" CR (B while\n"
      "                 turning)\n"
      "\n"
      "Exit status: 0 on SIGINT, SIGTERM, SIGHUP or --vanish-after; 1 on a usage\n"
      "error; 2 when the pseudo-terminal cannot be made.\n");
}

int BoxOptions::Parse(int argc, char** argv) {
  enum {
    kStart = 256, kStartEl, kRange, kPathFile, kLink, kGarbage, kSeed, kSilent, kSlow, kSplit, kVanishAfter
  };
  static const struct option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, 'V'},
      {"model", required_argument, nullptr, 'm'},   {"speed", required_argument, nullptr, 's'},
      {"start", required_argument, nullptr, kStart}, {"start-el", required_argument, nullptr, kStartEl},
      {"range", required_argument, nullptr, kRange},
      {"path-file", required_argument, nullptr, kPathFile}, {"link", required_argument, nullptr, kLink},
      {"log", no_argument, nullptr, 'v'},           {"verbose", no_argument, nullptr, 'v'},
      {"garbage", required_argument, nullptr, kGarbage}, {"seed", required_argument, nullptr, kSeed},
      {"silent", no_argument, nullptr, kSilent},    {"slow", required_argument, nullptr, kSlow},
      {"split", no_argument, nullptr, kSplit},      {"vanish-after", required_argument, nullptr, kVanishAfter},
      {nullptr, 0, nullptr, 0},
  };
  zeva_tools::RestartGetopt();
  opterr = 0;
  for (;;) {
    int word = zeva_tools::GetoptWord();
    int option = getopt_long(argc, argv, "+:hVm:s:v", kOptions, nullptr);
    if (option == -1) break;
    const char* arg = optarg;
    switch (option) {
      case 'h': PrintHelp(); return 0;
      case 'V': printf("zeva-boxsim %s\n", zeva::kVersion); return 0;
      case 'v': verbose = true; break;
      case kSilent: silent = true; break;
      case kSplit: split = true; break;
      case 'm': {
        const BoxModel::Info* info = BoxModel::Find(arg);
        if (info == nullptr) return Usage("unknown model", arg);
        model = info->number;
        break;
      }
      case 's':
        if (!ToDouble(arg, speed) || !(speed > 0) || speed > 100000)
          return Usage("--speed needs a number of degrees per second above 0", arg);
        break;
      case kStart:
        if (!ToInt(arg, start)) return Usage("--start needs a bearing", arg);
        break;
      case kRange:
        if (!ToRange(arg, minAzimuth, maxAzimuth)) return Usage("--range needs MIN..MAX, MIN below MAX", arg);
        break;
      case kStartEl:
        if (!ToInt(arg, startElevation)) return Usage("--start-el needs an elevation", arg);
        break;
      case kPathFile:
        if (*arg == '\0') return Usage("--path-file needs a file name", arg);
        pathFile = arg;
        break;
      case kLink:
        if (*arg == '\0') return Usage("--link needs a path", arg);
        linkPath = arg;
        break;
      case kGarbage:
        if (!ToInt(arg, garbage) || garbage < 0) return Usage("--garbage needs a count", arg);
        break;
      case kSeed: {
        int number = 0;
        if (!ToInt(arg, number)) return Usage("--seed needs a number", arg);
        seed = static_cast<unsigned>(number);
        break;
      }
      case kSlow:
        if (!ToInt(arg, slowMs) || slowMs < 0) return Usage("--slow needs milliseconds", arg);
        break;
      case kVanishAfter:
        if (!ToDouble(arg, vanishAfter) || vanishAfter < 0) return Usage("--vanish-after needs seconds", arg);
        break;
      default:
        return Usage(zeva_tools::GetoptMistake(option, argv[word], kOptions).c_str(), nullptr);
    }
  }
  if (optind < argc) return Usage("unexpected argument", argv[optind]);
  return -1;
}
