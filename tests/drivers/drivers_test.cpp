// The seven drivers: a table of what each sends, one of what each reply
// parser makes of the bytes it reads, and the emulated boxes checked against
// both (each must take its driver's bytes and answer in the form its
// driver's parser reads). No controller, hence no port.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "command/RotatorMgr.h"
#include "drivers/Rotator_AlfaSpid.h"
#include "drivers/Rotator_DCU1.h"
#include "drivers/Rotator_ProsistelD.h"
#include "drivers/Rotator_RC2800PA.h"
#include "drivers/Rotator_RC2800PX.h"
#include "drivers/Rotator_RotorEZ.h"
#include "drivers/Rotator_Yaesu.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"
#include "tests/support/Time.h"
#include "tools/boxsim/Antenna.h"
#include "tools/boxsim/BoxModel.h"

namespace {

using namespace std::string_literals;
using namespace testing_support;

std::string Spid(const std::string& digits, char command) {
  return "W" + digits + std::string(7, '\0') + command + " ";
}

struct Model {
  int number;
  speed_t speed;
  std::string init, poll;  // sent at configuration; one status request
  int fixedPollMs;         // the poll period whatever CONFIGURE says (0: none)
  std::string stop, release;  // sent on STOP; when the rotator is destroyed
  std::vector<std::pair<int, std::string>> turns;  // ROTATE bearing, bytes sent
};

const std::vector<Model>& Models() {
  static const std::vector<Model> models = {
      {1, B4800, "", "", 0, "", "",
       {{90, "AP1090;AM1;"}, {300, "AP1300;AM1;"}, {-5, "AP1-05;AM1;"},
        {INT_MIN, "AP1-2147483648;AM1;"}}},
      {2, B4800, "", "AI1;", 0, ";", "",
       {{90, "AP1090;AM1;"}, {300, "AP1300;AM1;"}, {7, "AP1007;AM1;"},
        {-5, "AP1-05;AM1;"}, {1000, "AP11000;AM1;"}}},
      {4, B9600, "", "C\r", 0, "S\r", "",
       {{90, "M090\r"}, {300, "M300\r"}, {-5, "M-05\r"}, {INT_MIN, "M-2147483648\r"}}},
      {5, B1200, "", Spid("\0\0\0"s, 0x1F), 0, Spid("\0\0\0"s, 0x0F), "",
       {{90, Spid("450", 0x2F)}, {300, Spid("660", 0x2F)}, {-360, Spid("000", 0x2F)},
        {639, Spid("999", 0x2F)}, {640, Spid(":00", 0x2F)},
        {INT_MIN, Spid(" ((", 0x2F)}}},  // bearing + 360 wraps; low bytes kept
      {8, B9600, "U\r", "U\r", 5000, "S\r", "N\r",
       {{90, "090\r"}, {300, "300\r"}, {-5, "-05\r"}, {1000, "1000\r"}}},
      {9, B9600, "\r", "", 0, "S\r", "",
       {{90, "A90\r"}, {300, "A300\r"}, {7, "A7\r"}, {-5, "A-5\r"}}},
      {12, B9600, "\x02" "AM\r\x02" "A?\r", "\x02" "AM\r", 5000, "\x02" "AG977\r", "",
       {{90, "\x02" "AG090\r"}, {300, "\x02" "AG300\r"}, {-5, "\x02" "AG-05\r"},
        {1234, "\x02" "AG1234"}, {-100, "\x02" "AG-100"}}},  // cut to 7 bytes
  };
  return models;
}

TEST(Drivers, EachOpensItsSpeedAndSendsItsConfigureRotateStopAndReleaseBytes) {
  LogCapture log;
  for (const Model& m : Models()) {
    SCOPED_TRACE(m.number);
    Pty box;
    auto read = [&](const std::string& due) { return box.Read(due.empty() ? 50 : 2000, due.size()); };
    std::unique_ptr<Rotator> rotator = RotatorMgr::Create(m.number);
    ASSERT_TRUE(rotator->Initialize(1, box.SlavePath(), m.number, 0));
    struct termios t;
    EXPECT_TRUE(box.SlaveSettings(&t) && cfgetospeed(&t) == m.speed);
    EXPECT_EQ(read(m.init), m.init);
    for (const auto& turn : m.turns) {
      rotator->Rotate(turn.first);
      EXPECT_EQ(read(turn.second), turn.second);
    }
    rotator->Stop();
    EXPECT_EQ(read(m.stop), m.stop);
    EXPECT_EQ(box.Read(250), "") << "nothing else: no poll, no second execute";
    rotator.reset();
    EXPECT_EQ(read(m.release), m.release);
  }
  EXPECT_EQ(log.CountOut("Sending -5 to RC2800PX"), 1u);
  // A DCU-1 gets one execute for two turns within 200 ms.
  Pty box;
  std::unique_ptr<Rotator> dcu = RotatorMgr::Create(1);
  ASSERT_TRUE(dcu->Initialize(1, box.SlavePath(), 1, 0));
  auto start = Clock::now();
  dcu->Rotate(10);
  dcu->Rotate(20);
  EXPECT_EQ(box.Read(2000, 18), "AP1010;AP1020;AM1;");
  EXPECT_GE(MsSince(start), 195);
  EXPECT_EQ(box.Read(400), "");
}

TEST(Drivers, EachPollsAtItsPeriod) {
  LogCapture log;
  std::vector<std::unique_ptr<Pty>> boxes;
  std::vector<std::unique_ptr<Rotator>> rotators;
  auto start = Clock::now();
  for (const Model& m : Models()) {
    boxes.emplace_back(new Pty());
    rotators.push_back(RotatorMgr::Create(m.number));
    ASSERT_TRUE(rotators.back()->Initialize(1, boxes.back()->SlavePath(), m.number, 100));
  }
  SleepMs(1000);
  for (size_t i = 0; i < boxes.size(); ++i) {
    const Model& m = Models()[i];
    SCOPED_TRACE(m.number);
    std::string sent = boxes[i]->Read(0).substr(m.init.size());
    if (m.poll.empty() || m.fixedPollMs) {
      EXPECT_EQ(sent, "");
    } else {
      std::string polls;
      while (polls.size() < sent.size()) polls += m.poll;
      EXPECT_EQ(sent, polls);
      EXPECT_GE(sent.size(), 5 * m.poll.size());
      EXPECT_LE(sent.size(), 11 * m.poll.size());
    }
  }
  for (size_t i = 0; i < boxes.size(); ++i) {
    const Model& m = Models()[i];
    if (!m.fixedPollMs) continue;
    EXPECT_EQ(boxes[i]->Read(6000, m.poll.size()), m.poll) << m.number;
    EXPECT_GE(MsSince(start), m.fixedPollMs - 50);
  }
}


const char kPort[] = "/dev/ttyPROBE";
constexpr int kNone = INT_MIN;  // no bearing reported

struct Parser {
  virtual ~Parser() = default;
  virtual void Feed(const std::string& bytes) = 0;
  virtual int Bearing() const = 0;
};

template <class Driver>
struct ParserOf : Driver, Parser {
  ParserOf() { this->port = kPort; }
  void Feed(const std::string& bytes) override { for (char c : bytes) this->DoSerial(c); }
  int Bearing() const override { return this->lastDirection; }
};

std::unique_ptr<Parser> MakeParser(int model) {
  switch (model) {
    case 1: return std::make_unique<ParserOf<Rotator_DCU1>>();
    case 2: return std::make_unique<ParserOf<Rotator_RotorEZ>>();
    case 4: return std::make_unique<ParserOf<Rotator_Yaesu>>();
    case 5: return std::make_unique<ParserOf<Rotator_AlfaSpid>>();
    case 8: return std::make_unique<ParserOf<Rotator_RC2800PA>>();
    case 9: return std::make_unique<ParserOf<Rotator_RC2800PX>>();
    default: return std::make_unique<ParserOf<Rotator_ProsistelD>>();
  }
}

// The status lines a row expects, written short: "Bx|" is a bad reply "x",
// "B|" one reported without text, "S4|" a new speed of 4.
std::string Expected(const std::string& shorthand) {
  std::string out;
  for (size_t at = 0; at < shorthand.size();) {
    size_t end = shorthand.find('|', at);
    const std::string text = shorthand.substr(at + 1, end - at - 1);
    if (shorthand[at] == 'S')
      out += "Status: Rotator "s + kPort + " Speed " + text + "\n";
    else
      out += "Status: Bad response " + (text.empty() ? "" : "\"" + text + "\" ") +
             "from rotator on " + kPort + "\n";
    at = end + 1;
  }
  return out;
}

struct Reply {
  int model;
  std::string bytes;
  int bearing;
  std::string log;
};

const std::string k20 = "A=123 S=4 xxxxxxxxxx";  // twenty bytes

const Reply kReplies[] = {
    {1, ";045AZ=045\r\nW450 A=045 S=1 x\r", kNone, ""},  // a DCU-1 reads nothing
    {2, ";045", 45, ""},
    {2, ";04", kNone, ""},
    {2, ";45;", 45, ""},
    {2, ";1234;", 4, ""},  // the third digit reports, the fourth starts anew
    {2, ";;;", kNone, ""},
    {2, ";12\r5;", 5, "B\r|"},
    {2, ";1x;2y;033", 33, "Bx|By|"},
    {4, "AZ=045\r\n", 45, ""},
    {4, "+0359\r", 359, ""},
    {4, "AZ=090", kNone, ""},
    {4, "AZ=090\n", 90, ""},
    {4, "AZ=\r\n+\r", kNone, ""},
    {4, "A1Z2\r", 12, ""},
    {4, "1+2=3\r", 123, ""},
    {4, "AZ=12 x\r7\r", 7, "B |Bx|"},
    {4, "AZ=99999999999999\rAZ=045\r", 45, ""},
    {5, "W450 ", 90, ""},
    {5, "W999 ", 279, ""},
    {5, "W450", kNone, ""},
    {5, "W450\r", kNone, "BW450|"},
    {5, "W4X0 X450 W45  ", kNone, "BW4X0|BX450|BW45 |"},
    {5, "\0" "450 "s, kNone, "B|"},
    {5, "xW450 W450 abcdW450 ", 90, "BxW45|B W45|B abc|"},  // counted, not hunted
    {8, "A xx123 yy4 z\r", 123, "S4|"},
    {8, "A 99123 --4 z\rA -+45 ab6 z\rA xx46 yy6 z\r", 46, "S4|S6|"},
    {8, "A xx7.5 yy0  \r", 7, ""},  // empty fourth field; speed 0 is no news
    {8, "A xx123 yy4\rB xx123 yy4 z\rA xx yy4 z\rA xx123 yy z\r", kNone, "B|B|B|B|"},
    {8, "A xx200 yy4 z\r\r", 200, "S4|B|"},
    {9, "A=123 S=4 x\r", 123, "S4|"},
    {9, "A=1 S=4  \rA=2 S=4 x\rA=3 S=9 x\r", 3, "S4|S9|"},
    {9, "M1 A=200 S=4 x\rM\r", kNone, ""},
    {9, "A=123 S=4\r", kNone, "BA=123 S=4|"},
    {9, "A= S=4 x\rP=1 S=4 x\rA=1 X=4 x\rA=1 S= x\rm=1 S=2 x\r", kNone,
     "BA= S=4 x|BP=1 S=4 x|BA=1 X=4 x|BA=1 S= x|Bm=1 S=2 x|"},
    {9, "\r", kNone, "B|"},
    // Lines of up to 20 bytes (line feeds not counted); the 21st byte
    // reports the line and starts a new one.
    {9, k20 + "\r", 123, "S4|"},
    {9, "A=123 S=4 x\nx\nxxxxxxxx\r", 123, "S4|"},
    {9, k20 + "YA=050 S=7 x\r", 50, "B" + k20 + "Y|S7|"},
    {12, "\x02" "A,?,123,R\r\n", 123, ""},
    {12, "\x02" "A,?, -12,R,more\r", -12, ""},
    {12, "\x02" "A,?,123\r\x02" "A,?\r", kNone, "B|B|"},
    {12, "\x02" "A,M,123,R\r\x02" "A,??,123,R\r\r", kNone, ""},
};

TEST(Drivers, ReplyParsersReadWhatTheBoxesSend) {
  for (const Reply& r : kReplies) {
    SCOPED_TRACE(std::to_string(r.model) + ": " + ::testing::PrintToString(r.bytes));
    LogCapture log;
    std::unique_ptr<Parser> parser = MakeParser(r.model);
    parser->Feed(r.bytes);
    EXPECT_EQ(parser->Bearing(), r.bearing);
    EXPECT_EQ(log.Out(), Expected(r.log));
  }
}


// Feeds `bytes` to the box and what it answers to the parser, then lets the
// antenna turn for `seconds`, passing on what the box says unasked.
void Exchange(BoxModel& box, Antenna& antenna, Parser& parser, const std::string& bytes,
              double seconds = 0) {
  static double now = 0;
  std::vector<std::string> replies;
  for (char c : bytes) box.Receive(c, replies);
  for (double t = 0; t < seconds; t += 0.02) {
    antenna.Advance(0.02);
    box.Tick(now += 0.02, replies);
  }
  for (const std::string& reply : replies) parser.Feed(reply);
}

TEST(Drivers, EmulatedBoxesTurnAndStopAndAnswerInTheirDriversForm) {
  LogCapture log;
  for (const Model& m : Models()) {
    SCOPED_TRACE(m.number);
    Antenna antenna(40, 10, 0);
    std::unique_ptr<BoxModel> box = BoxModel::Create(m.number, antenna);
    std::unique_ptr<Parser> parser = MakeParser(m.number);
    const bool feedback = m.number != 1;  // a DCU-1 has no replies
    Exchange(*box, antenna, *parser, m.init + m.poll);
    EXPECT_EQ(parser->Bearing(), feedback ? 10 : kNone);
    Exchange(*box, antenna, *parser, m.turns[0].second, 3);  // to 90
    Exchange(*box, antenna, *parser, m.poll);
    EXPECT_EQ(antenna.Azimuth(), 90);
    EXPECT_EQ(parser->Bearing(), feedback ? 90 : kNone);
    Exchange(*box, antenna, *parser, m.turns[1].second, 1);  // to 300
    Exchange(*box, antenna, *parser, m.stop, 1);
    Exchange(*box, antenna, *parser, m.poll);
    EXPECT_EQ(parser->Bearing(), feedback ? antenna.Azimuth() : kNone);
    if (feedback) {
      EXPECT_GT(antenna.Azimuth(), 100);
      EXPECT_LT(antenna.Azimuth(), 300);
    }
  }
  EXPECT_EQ(log.Err(), "") << "a box sent something its driver cannot read";
}

}  // namespace
