#include "BoxOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BoxModel.h"

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
      "\n"
      "  -h, --help            this text\n"
      "\n"
      "Motion: the antenna turns at the set speed straight toward its target and\n"
      "never across north (an end stop at 0/360), so 350 -> 10 goes round\n"
      "through 180. Targets outside 0..359 are clamped (elevation 0..180). A\n"
      "stop command halts it where it is.\n"
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
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    std::string value;
    bool hasInlineValue = false;
    if (option.compare(0, 2, "--") == 0) {
      std::string::size_type equals = option.find('=');
      if (equals != std::string::npos) {
        value = option.substr(equals + 1);
        option = option.substr(0, equals);
        hasInlineValue = true;
      }
    }
    auto next = [&](const char*& out) -> bool {
      if (hasInlineValue) {
        out = value.c_str();
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const char* arg = nullptr;
    if (option == "-h" || option == "--help") {
      PrintHelp();
      return 0;
    } else if (option == "-v" || option == "--log" || option == "--verbose") {
      verbose = true;
    } else if (option == "--silent") {
      silent = true;
    } else if (option == "--split") {
      split = true;
    } else if (option == "-m" || option == "--model") {
      if (!next(arg)) return Usage("missing value for", option.c_str());
      const BoxModel::Info* info = BoxModel::Find(arg);
      if (info == nullptr) return Usage("unknown model", arg);
      model = info->number;
    } else if (option == "-s" || option == "--speed") {
      if (!next(arg) || !ToDouble(arg, speed) || !(speed > 0) || speed > 100000)
        return Usage("--speed needs a number of degrees per second above 0", arg);
    } else if (option == "--start") {
      if (!next(arg) || !ToInt(arg, start)) return Usage("--start needs a bearing", arg);
    } else if (option == "--start-el") {
      if (!next(arg) || !ToInt(arg, startElevation)) return Usage("--start-el needs an elevation", arg);
    } else if (option == "--path-file") {
      if (!next(arg) || *arg == '\0') return Usage("--path-file needs a file name", arg);
      pathFile = arg;
    } else if (option == "--link") {
      if (!next(arg) || *arg == '\0') return Usage("--link needs a path", arg);
      linkPath = arg;
    } else if (option == "--garbage") {
      if (!next(arg) || !ToInt(arg, garbage) || garbage < 0) return Usage("--garbage needs a count", arg);
    } else if (option == "--seed") {
      int number = 0;
      if (!next(arg) || !ToInt(arg, number)) return Usage("--seed needs a number", arg);
      seed = static_cast<unsigned>(number);
    } else if (option == "--slow") {
      if (!next(arg) || !ToInt(arg, slowMs) || slowMs < 0) return Usage("--slow needs milliseconds", arg);
    } else if (option == "--vanish-after") {
      if (!next(arg) || !ToDouble(arg, vanishAfter) || vanishAfter < 0)
        return Usage("--vanish-after needs seconds", arg);
    } else {
      return Usage("unknown option", argv[i]);
    }
    if (hasInlineValue && arg == nullptr) return Usage("option takes no value", argv[i]);
  }
  return -1;
}
