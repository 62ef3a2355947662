// The station beside Hamlib's rotctld: Debian's `rotctld -m 603` (GS-232B)
// and zeva-station with the real daemon each drive emulated boxes, get the
// same requests, and their answers are compared byte for byte, in the phases
// of kSteps. Every difference that remains is there with its reason, and the
// manual page lists the same ones.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include "tests/station/StationRig.h"
#include "tests/support/Time.h"

using station_test::Rotctl;
using namespace testing_support;

namespace {

// Which pair of rotators a request goes to: the station's and rotctld's,
// each on a box of its own. kSouth: the station's seven south-stop rotators,
// one per model, whose answers must agree, beside rotctld's GS-232B on the
// same range.
enum class Box { kLive, kSilent, kSouth };

struct Step {
  // A request, sent with a line feed on a connection of its own; or, from
  // '@', what happens: "@box live|silent|south" (the pair asked from then
  // on; live to begin with), "@phase NAME" (names the differences listed
  // after it), "@hand N" (the box's own buttons turn it to N: a command the
  // station never sees), "@off" and "@on" (the controller switched off or on
  // behind a line that stays), "@wait MS", "@unplug".
  const char* request;
  const char* reason = nullptr;  // why the answers differ; nullptr: they must not
};

const char kSilentSets[] =
    "while the box is not responding a turn is answered RPRT -5 (and still sent); rotctld's "
    "GS-232B backend writes it without reading and answers 0";
const char kInRange[] =
    "the position in the rotator's range, in the form of the last target: -90, -180 and -11 where "
    "rotctld answers the box's 270, 180 and 349 (the same directions)";
const char kDumpState[] = "model 2 (NET rotctl) and rot_type=Az; rotctld reports its model, 603, and AzEl";
const char kNamed[] = "a line naming the rotator; rotctld's GS-232B model answers None";
const char kUnknown[] = "an unknown command is answered RPRT -11 and ends its line; rotctld reads on";

// The boxes turn at 1000 degrees a second; the live ones span 0..450, as
// rotctld's GS-232B model allows.
const Step kSteps[] = {
    {"p"}, {"P 45 0"}, {"\\set_pos 90 0"}, {"p"}, {"+p"}, {";\\get_pos"}, {"|P 90 0"}, {",S"}, {":p"}, {"+\\stop"},
    {"P 360 0"}, {"P 359.7 0"}, {"P 450 0"}, {"P -90 0"},
    {"P 500 0", "whole turns bring a target into the rotator's range (140 here); rotctld refuses it"},
    {"P -200 0", "whole turns bring a target into the rotator's range (160 here); rotctld refuses it"},
    {"P 10 100"},
    {"P 10 200", "any elevation is taken and ignored (no elevation axis); rotctld refuses one out of 0..180"},
    {"P 10 x"}, {"P north 0"},
    {"P nan 0", "a target that is not a number is refused; rotctld takes it"},
    {"P 10", "a missing argument is answered at once; rotctld waits for it on the next line"},
    {"P 10, 0"}, {"P 10 0 p"}, {"p\np\nS"}, {"\\dump_state", kDumpState}, {"+\\dump_state", kDumpState},
    {"1", "the station's own capabilities, ending in RPRT 0; rotctld lists its backend's"},
    {"_", kNamed}, {"+_", kNamed}, {"K"}, {"+K"}, {"R 1"}, {"\\park"},
    {"M 8 50", "move is refused (RPRT -11): the daemon has no such command"},
    {"xyz p", kUnknown}, {"\\frobnicate 1", kUnknown}, {""}, {"q\np"},
    {"@box silent"}, {"p"}, {"+p"}, {"P 20 0"}, {"S"}, {"@box live"},
    // The same target again after a hand turn: the antenna is not there.
    {"@phase hand turn"}, {"P 200 0"}, {"p"}, {"@hand 300"}, {"p"}, {"P 200 0"}, {"p"},
    // A client that chooses the overlap: out to 380, then west across north.
    {"@phase overlap"}, {"P 180 0"}, {"p"}, {"P 380 0"}, {"p"}, {"P 370 0"}, {"p"}, {"P 360 0"}, {"p"},
    {"P 350 0"}, {"p"}, {"P 30 0"},
    {"+p", "a 0..360 target the range reaches two ways is the station's choice, the nearer: 390 from 350, "
           "where rotctld sends 30 (the same direction)"},
    // The controller switched off behind an adapter that stays plugged in,
    // standing still, then sent turns it misses.
    {"@phase switched off"}, {"P 180 0"}, {"p"}, {"@off"},
    {"+p", "the last bearing: the daemon reports only changes, so a box that falls silent standing still "
           "shows only at the next turn; rotctld, which asks the box, answers RPRT -5"},
    {"P 90 0"}, {"@wait 3500"}, {"p"}, {";p"}, {"P 100 0", kSilentSets},
    // On again: the turn it missed, repeated.
    {"@phase back on"}, {"@on"},
    {"+p", "RPRT -5 until a bearing arrives: a box that comes back standing still shows only at the next "
           "turn; rotctld, which asks the box, answers its bearing"},
    {"P 100 0", kSilentSets}, {"p"},
    // The south stop through every model's numbers.
    {"@box south"}, {"@phase south stop"}, {"P -90 0"}, {"p", kInRange}, {"P 170 0"}, {"p"}, {"P -180 0"},
    {"p", kInRange}, {"P -10.6 0"}, {"p", kInRange},
    {"@box live"}, {"@phase unplugged"}, {"@unplug"}, {"p"}, {"+p"}, {"P 30 0"}, {"S"},
};

// The station's models on the south-stop range, each on a box of its own (a
// SPID's spans -180..540, as a real one can).
const char* const kSouthModels[] = {"dcu1", "rotorez", "yaesu", "spid", "rc2800pa", "rc2800px", "prosistel"};
constexpr int kSouthCount = sizeof kSouthModels / sizeof kSouthModels[0];

// The boxes, by index: the two live, the two silent, rotctld's south-stop
// box, then the station's seven.
enum { kStationLive, kHamlibLive, kStationSilent, kHamlibSilent, kHamlibSouth, kStationSouth };
constexpr int kBoxCount = kStationSouth + kSouthCount;

std::string BoxName(int box) {
  const char* names[] = {"station-live", "hamlib-live", "station-silent", "hamlib-silent", "hamlib-south"};
  return box < kStationSouth ? names[box] : std::string("station-") + kSouthModels[box - kStationSouth];
}

// The answer to `request` on a fresh connection: what arrives until 200 ms
// pass without a byte, or within 3 s when nothing comes.
std::string Exchange(int port, const std::string& request) {
  TcpClient client;
  if (!client.Connect(port)) return "<no connection>";
  client.Send(request + "\n");
  auto start = Clock::now();
  std::string answer;
  for (;;) {
    auto asked = Clock::now();
    std::string more = client.ReadAll(200);
    answer += more;
    if (more.empty() && (!answer.empty() || Clock::now() - start > std::chrono::seconds(3) ||
                         Clock::now() - asked < std::chrono::milliseconds(150))) {
      return answer;  // quiet, or the connection closed
    }
  }
}

// The azimuth a box's log says it was last sent to, modulo 360; -1 if none.
int LastTarget(const std::string& log) {
  const std::string mark = "boxsim: azimuth ";
  for (size_t at = log.rfind(mark); at != std::string::npos; at = at ? log.rfind(mark, at - 1) : std::string::npos) {
    const size_t arrow = log.find(" -> ", at);
    if (arrow < log.find('\n', at)) return (std::stoi(log.substr(arrow + 4)) % 360 + 360) % 360;
  }
  return -1;
}

// Text as the manual page shows it: roff escapes and font changes undone.
std::string Unroff(std::string text) {
  const std::pair<std::string, std::string> escapes[] = {
      {"\\fB", ""}, {"\\fR", ""}, {"\\fP", ""}, {"\\fI", ""}, {"\\-", "-"}, {"\\e", "\\"}, {"\"", ""}};
  for (const auto& escape : escapes) {
    for (size_t at; (at = text.find(escape.first)) != std::string::npos;) text.replace(at, escape.first.size(), escape.second);
  }
  return text;
}

// Text for the manual page: backslashes escaped, minus signs told from hyphens.
std::string Roff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') out += "\\e";
    else if (text[i] == '-' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '(')) out += "\\-";
    else out += text[i];
  }
  return out;
}

// The listed differences of the manual page: request -> reason.
std::map<std::string, std::string> ManualDifferences() {
  std::ifstream file(ZEVA_STATION_MANUAL);
  const std::string man((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t begin = man.find(".SH DIFFERENCES FROM ROTCTLD");
  size_t end = man.find("\n.SH", begin + 1);
  std::map<std::string, std::string> entries;
  if (begin == std::string::npos) return entries;
  std::istringstream lines(man.substr(begin, end - begin));
  std::string line, request;
  while (std::getline(lines, line)) {
    if (line == ".TP" || line.compare(0, 3, ".PP") == 0) {
      request.clear();
    } else if (line.compare(0, 3, ".B ") == 0 && request.empty()) {
      request = Unroff(line.substr(3));
      entries[request];
    } else if (!request.empty()) {
      std::string& reason = entries[request];
      reason += (reason.empty() ? "" : " ") + Unroff(line);
    }
  }
  return entries;
}

class StationRotctldTest : public station_test::StationRig {
 protected:
  void SetUp() override {
    StationRig::SetUp();
    // The station's nine rotctld ports, then rotctld's three.
    stationPort = station_test::FreePorts(12);
    hamlibPort = stationPort + 18;
    ASSERT_NE(stationPort, 0);
    for (int i = 0; i < kBoxCount; ++i) {
      std::string model = i < kStationSouth ? "yaesu" : kSouthModels[i - kStationSouth];
      std::vector<std::string> args = {"--model", model, "--speed", "1000"};
      if (i == kStationLive || i == kHamlibLive) args.insert(args.end(), {"--range", "0..450"});
      if (i == kStationSilent || i == kHamlibSilent) args.push_back("--silent");
      if (i >= kHamlibSouth) args.push_back("--log");  // where each was sent
      if (model == "spid") args.insert(args.end(), {"--range", "-180..540"});
      ASSERT_EQ(StartBox(boxes[i], BoxName(i), args), Link(i));
    }
    std::vector<std::string> argv = {ZEVA_STATION_PATH, "--base-port", std::to_string(stationPort),
                                     "--rotator", "1:" + Link(kStationLive) + ":yaesu:100:-180..450",
                                     "--rotator", "2:" + Link(kStationSilent) + ":yaesu:100:-180..450"};
    for (int i = 0; i < kSouthCount; ++i) {
      argv.insert(argv.end(), {"--rotator", std::to_string(3 + i) + ":" + Link(kStationSouth + i) + ":" +
                                                kSouthModels[i] + ":100:-180..180"});
    }
    ASSERT_TRUE(station.Start(argv));
    // rotctld's GS-232B model has the range -180..450 of the station's first
    // two rotators; the third is given the south stop.
    const int hamlibBoxes[] = {kHamlibLive, kHamlibSilent, kHamlibSouth};
    for (int i = 0; i < 3; ++i) {
      std::vector<std::string> args = {"rotctld", "-m", "603", "-r", Link(hamlibBoxes[i]), "-T", "127.0.0.1",
                                       "-t", std::to_string(hamlibPort + 2 * i)};
      if (i == 2) args.insert(args.end(), {"-C", "min_az=-180,max_az=180"});
      ASSERT_TRUE(hamlib[i].Start(args));  // rotctld is Debian's libhamlib-utils
    }
    ASSERT_TRUE(Created(Link(kBoxCount - 1))) << station.Stderr();
    for (int i = 0; i < 3; ++i) {
      TcpClient client;
      ASSERT_TRUE(client.Connect(hamlibPort + 2 * i)) << hamlib[i].Stderr();
    }
  }

  void TearDown() override {
    for (ChildProcess& process : hamlib) process.Stop(5000);
    StationRig::TearDown();
  }

  std::string Link(int box) const { return dir + "/" + BoxName(box); }

  // What happens to both sides at an "@" step; false when it did not.
  bool Act(const std::string& action, std::string& phase) {
    std::string verb = action.substr(1, action.find(' ') - 1);
    std::string argument = action.find(' ') == std::string::npos ? "" : action.substr(action.find(' ') + 1);
    if (verb == "phase") phase = argument;
    if (verb == "box") asked = argument == "silent" ? Box::kSilent : argument == "south" ? Box::kSouth : Box::kLive;
    if (verb == "wait") SleepMs(std::stoi(argument));
    for (int box : {kStationLive, kHamlibLive}) {
      if (verb == "hand") {
        // Written to the box's line as if by its own buttons.
        std::string command = "M" + argument + "\r";
        int fd = open(Link(box).c_str(), O_WRONLY | O_NOCTTY);
        bool written = fd >= 0 && write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size());
        if (fd >= 0) close(fd);
        if (!written) return false;
      } else if (verb == "off" || verb == "on") {
        if (!boxes[box].Signal(SIGUSR2) || !boxes[box].WaitForStderr("switched " + verb, 5000)) return false;
      } else if (verb == "unplug" && !boxes[box].Signal(SIGUSR1)) {
        return false;
      }
    }
    if (verb == "hand") SleepMs(500);  // the boxes turn; the daemon polls
    return verb != "unplug" || station.WaitForStderr("station-live is gone", 5000);
  }

  // The answers of both sides to one request.
  std::pair<std::string, std::string> AskBoth(Box box, const std::string& request) {
    if (box == Box::kSouth) return {AskSouth(request), Exchange(hamlibPort + 4, request)};
    int offset = box == Box::kSilent ? 2 : 0;
    auto ours = std::async(std::launch::async, Exchange, stationPort + offset, request);
    std::string theirs = Exchange(hamlibPort + offset, request);
    return {ours.get(), theirs};
  }

  // The answer of the station's south-stop rotators, asked again until all
  // agree (within 15 s: two models report every 5 s); what each answered
  // when they do not.
  std::string AskSouth(const std::string& request) {
    std::vector<std::string> answers(kSouthCount);
    auto agree = [&] {
      std::vector<std::future<std::string>> asked;
      for (int i = 0; i < kSouthCount; ++i) asked.push_back(std::async(std::launch::async, Exchange, stationPort + 4 + 2 * i, request));
      for (int i = 0; i < kSouthCount; ++i) answers[i] = asked[i].get();
      return std::all_of(answers.begin(), answers.end(), [&](const std::string& a) { return a == answers[0]; });
    };
    if (agree() || (request[0] != 'P' && WaitUntil(agree, 15000))) return answers[0];
    std::string all;
    for (int i = 0; i < kSouthCount; ++i) all += std::string(kSouthModels[i]) + ": " + answers[i];
    return all;
  }

  // Median answer time in ms of `count` asks of `commands` in turn.
  static double AnswerMs(int port, const std::vector<std::string>& commands, int lines, int count) {
    TcpClient client;
    if (!client.Connect(port)) return -1;
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
      auto asked = Clock::now();
      station_test::Ask(client, commands[i % commands.size()], lines);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

  int stationPort = 0, hamlibPort = 0;
  Box asked = Box::kLive;  // the pair the steps ask
  ChildProcess boxes[kBoxCount], hamlib[3];
};

TEST_F(StationRotctldTest, AnswersAreRotctldsButForTheListedDifferences) {
  std::map<std::string, std::string> listed;
  std::string phase, manual;  // manual: the list as the manual page should have it
  int requests = 0, same = 0;
  for (const Step& step : kSteps) {
    const std::string request = step.request;
    if (request.compare(0, 1, "@") == 0) {
      ASSERT_TRUE(Act(request, phase)) << request << "\n" << station.Stderr();
      continue;
    }
    SleepMs(150);  // the boxes settle
    // A position may differ while a box still settles on a loaded machine:
    // asked again, it must then agree.
    std::string answer, theirs;
    for (int attempt = 0; attempt < 3 && (attempt == 0 || (answer != theirs && !step.reason)); ++attempt) {
      if (attempt > 0) SleepMs(500);
      std::tie(answer, theirs) = AskBoth(asked, request);
    }
    ++requests;
    same += answer == theirs;
    std::string key = phase.empty() ? request : phase + ": " + request;
    if (step.reason == nullptr) {
      EXPECT_EQ(answer, theirs) << "request '" << key << "'";
    } else {
      EXPECT_NE(answer, theirs) << "request '" << key << "' is listed but answered as rotctld does";
      if (listed.count(key) == 0) manual += ".TP\n.B \"" + Roff(key) + "\"\n" + Roff(step.reason) + "\n";
      listed[key] = step.reason;
    }
    // Every model's box is sent where rotctld sends its GS-232B.
    if (asked == Box::kSouth && request[0] == 'P') {
      int target = LastTarget(boxes[kHamlibSouth].Stderr());
      for (int box = kStationSouth; box < kBoxCount; ++box) {
        EXPECT_TRUE(WaitUntil([&] { return LastTarget(boxes[box].Stderr()) == target; }, 5000))
            << BoxName(box) << " sent to " << LastTarget(boxes[box].Stderr()) << " where rotctld sent " << target
            << " for '" << request << "'";
      }
    }
  }
  std::cout << "[ FIGURES  ] " << requests << " requests: " << same << " answered alike, " << requests - same
            << " differently (" << listed.size() << " listed differences)\n";
  EXPECT_EQ(ManualDifferences(), listed) << "the manual page's DIFFERENCES FROM ROTCTLD must list these:\n" << manual;
}

TEST_F(StationRotctldTest, RotctlGetsTheSameResultsFromBoth) {
  const std::vector<std::vector<std::string>> commands = {
      {"P", "400", "0"}, {"P", "500", "0"}, {"P", "10", "100"}, {"P", "10", "200"},
      {"P", "-90", "0"}, {"S"},             {"P", "20", "0"},   {"p"}};
  for (const auto& command : commands) {
    SleepMs(500);
    EXPECT_EQ(Rotctl(stationPort, command), Rotctl(hamlibPort, command)) << command[0];
  }
}

TEST_F(StationRotctldTest, AnswerTimesBesideRotctlds) {
  double times[2][3];
  for (int side = 0; side < 2; ++side) {
    int port = side == 0 ? stationPort : hamlibPort;
    times[side][0] = AnswerMs(port, {"p"}, 2, 20);
    times[side][1] = AnswerMs(port, {"P 10 0", "P 20 0"}, 1, 20);
    times[side][2] = AnswerMs(port + 2, {"p"}, 1, 3);  // the silent box: RPRT -5
  }
  std::cout << "[ FIGURES  ] answer times, median ms, station / rotctld -m 603: p " << times[0][0]
            << " / " << times[1][0] << ", P " << times[0][1] << " / " << times[1][1]
            << ", p of a silent box " << times[0][2] << " / " << times[1][2] << "\n";
  EXPECT_LT(times[0][2], 1000);  // RPRT -5 after 0.8 s: sooner than rotctld's 1.8 s
  EXPECT_LT(times[0][0], 100);
  EXPECT_LT(times[0][1], 100);
}

}  // namespace
