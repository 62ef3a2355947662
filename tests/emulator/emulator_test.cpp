// End-to-end tests of the zeva-rotator binary against emulated controller
// boxes: every model turns an emulated antenna and reports its bearing to
// the client, stops where told, and the daemon copes with boxes that send
// noise, say nothing, dribble their replies or are unplugged.
//
// Each test starts the real daemon, one or more zeva-boxsim processes (one
// pseudo-terminal each, traffic logged with -v) and one TCP client; at the
// end the daemon must leave with status 0 within 2 s of SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/emulator/EmulatedBox.h"
#include "tests/support/Daemon.h"
#include "tests/support/TcpClient.h"
#include "tests/support/Time.h"

using emulator_test::EmulatedBox;
using testing_support::Daemon;
using testing_support::PortIsFree;
using testing_support::TcpClient;

namespace {

using testing_support::Clock;

// A controller model as the emulator and CONFIGURE name it.
struct Model {
  const char* name;    // zeva-boxsim --model
  int number;          // CONFIGURE model number
  bool polledEvery5s;  // the driver polls every 5 s whatever CONFIGURE says
  bool reportsSpeed;   // the driver logs "Rotator <dev> Speed <n>"
};

const Model kDcu1{"dcu1", 1, false, false};
const Model kRotorEz{"rotorez", 2, false, false};
const Model kYaesu{"yaesu", 4, false, false};
const Model kSpid{"spid", 5, false, false};
const Model kRc2800Pa{"rc2800pa", 8, true, true};
const Model kRc2800Px{"rc2800px", 9, false, true};
const Model kProsistel{"prosistel", 12, true, false};

// Every model that reports the antenna's position.
const Model kFeedbackModels[] = {kRotorEz,  kYaesu,    kSpid,
                                 kRc2800Pa, kRc2800Px, kProsistel};

void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

std::string Tail(const std::string& text, size_t bytes = 4000) {
  return text.size() <= bytes ? text : "..." + text.substr(text.size() - bytes);
}

bool NonDecreasing(const std::vector<int>& values) {
  for (size_t i = 1; i < values.size(); ++i)
    if (values[i] < values[i - 1]) return false;
  return true;
}

bool AllWithin(const std::vector<int>& values, int low, int high) {
  for (int v : values)
    if (v < low || v > high) return false;
  return true;
}

int CountStrictlyBetween(const std::vector<int>& values, int low, int high) {
  int count = 0;
  for (int v : values)
    if (v > low && v < high) ++count;
  return count;
}

std::string Show(const std::vector<int>& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i)
    text += (i ? " " : "") + std::to_string(values[i]);
  return text + "]";
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + what.size()))
    ++count;
  return count;
}

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree())
        << "TCP port 13020 is in use by another process; stop it before "
           "running these tests";
  }

  void TearDown() override {
    if (daemonStarted) {
      ASSERT_TRUE(daemon.Signal(SIGTERM));
      EXPECT_EQ(daemon.Wait(2000), 0)
          << "the daemon did not end with status 0 within 2 s of SIGTERM";
    }
    if (HasFailure()) {
      std::cout << "--- daemon standard output\n" << Tail(daemon.Stdout())
                << "\n--- daemon standard error\n" << Tail(daemon.Stderr())
                << "\n";
      for (auto& box : boxes) {
        std::cout << "--- box on " << box->Device() << "\n"
                  << Tail(box->Log()) << "\n";
      }
    }
    for (auto& box : boxes) {
      if (box->Running()) {
        EXPECT_EQ(box->Stop(), 0)
            << "zeva-boxsim on " << box->Device()
            << " did not end with status 0 on SIGTERM";
      }
    }
  }

  // Starts the daemon and connects the client.
  void StartDaemon() {
    daemonStarted = true;
    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(daemon.WaitForStdout("Connected to 127.0.0.1", 5000));
  }

  // Starts an emulated box; the test fails when it does not come up.
  EmulatedBox& StartBox(const Model& model,
                        const std::vector<std::string>& options) {
    boxes.push_back(std::make_unique<EmulatedBox>());
    EmulatedBox& box = *boxes.back();
    EXPECT_TRUE(box.Start(model.name, options))
        << "zeva-boxsim did not start: " << box.Log();
    return box;
  }

  void Command(const std::string& line) {
    ASSERT_TRUE(client.Command(line)) << "cannot send " << line;
  }

  // CONFIGUREs rotator `id` on the box and waits for its status line.
  void Configure(int id, const EmulatedBox& box, const Model& model,
                 int pollMs) {
    ASSERT_FALSE(box.Device().empty());
    Command("CONFIGURE " + std::to_string(id) + " " + box.Device() + " " +
            std::to_string(model.number) + " " + std::to_string(pollMs));
    ASSERT_TRUE(
        daemon.WaitForStdout("Status: " + box.Device() + " created", 5000))
        << "CONFIGURE of " << model.name << " on " << box.Device()
        << " failed";
  }

  // Reads the next line from the daemon within timeoutMs. Direction lines
  // ("<id> <nnn>") are recorded; anything else is a failure. False on
  // timeout; `id` and `degrees` are set for a direction line.
  bool NextBearing(int timeoutMs, int& id, int& degrees) {
    static const std::regex direction("([0-9]+) ([0-9]{3})");
    std::string line = client.ReadLine(timeoutMs);
    if (line.empty()) return false;
    std::smatch match;
    if (!std::regex_match(line, match, direction)) {
      ADD_FAILURE() << "not a direction line from the daemon: \"" << line
                    << "\"";
      id = -1;
      degrees = -1;
      return true;
    }
    id = std::stoi(match[1]);
    degrees = std::stoi(match[2]);
    if (id >= 0 && id < kMaxId) last[id] = degrees;
    return true;
  }

  // The bearings reported for rotator `id` until one equals `target`
  // (included) or timeoutMs has passed; `reached` tells which.
  std::vector<int> BearingsUntil(int id, int target, int timeoutMs,
                                 bool& reached) {
    std::vector<int> seen;
    reached = false;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reached) {
      int left = testing_support::MsLeft(deadline);
      int lineId, degrees;
      if (left <= 0 || !NextBearing(left, lineId, degrees)) break;
      if (lineId != id) continue;
      seen.push_back(degrees);
      reached = degrees == target;
    }
    return seen;
  }

  // Every bearing reported for rotator `id` within the next `ms`.
  std::vector<int> BearingsFor(int id, int ms) {
    bool reached;
    return BearingsUntil(id, -1, ms, reached);
  }

  // The last bearing the client has seen for rotator `id`, or -1.
  int Last(int id) const { return id >= 0 && id < kMaxId ? last[id] : -1; }

  // Where the emulator says its antenna was stopped, or -1 when it did not
  // say so within timeoutMs.
  static int StopPosition(const EmulatedBox& box, int timeoutMs) {
    if (!box.WaitForLog("azimuth stopped at ", timeoutMs)) return -1;
    std::string log = box.Log();
    size_t at = log.rfind("azimuth stopped at ");
    return atoi(log.c_str() + at + strlen("azimuth stopped at "));
  }

  static constexpr int kMaxId = 16;
  Daemon daemon;
  bool daemonStarted = false;
  TcpClient client;
  std::vector<std::unique_ptr<EmulatedBox>> boxes;
  int last[kMaxId] = {-1, -1, -1, -1, -1, -1, -1, -1,
                      -1, -1, -1, -1, -1, -1, -1, -1};
};

// ---------------------------------------------------------------------------
// Turning and stopping, every model with position feedback.

class FeedbackModelTest : public EmulatorTest,
                          public ::testing::WithParamInterface<Model> {};

TEST_P(FeedbackModelTest, TurnsToTargetReportingBearingsThenStopsWhereTold) {
  const Model& model = GetParam();
  StartDaemon();
  EmulatedBox& box = StartBox(model, {"--speed", "20", "--start", "20"});
  Configure(3, box, model, 100);

  // The first report is the start position, zero-padded to three digits.
  bool reached = false;
  std::vector<int> seen = BearingsUntil(3, 20, 3000, reached);
  ASSERT_TRUE(reached) << "no \"3 020\" after CONFIGURE; got " << Show(seen);

  // A turn of 35 degrees: the reports climb to the target.
  Command("ROTATE 3 55");
  ASSERT_TRUE(box.WaitForLog("azimuth 020 -> 055", 3000))
      << "the box did not take the turn command";
  seen = BearingsUntil(3, 55, 12000, reached);
  ASSERT_TRUE(reached) << "bearing 055 never reported; got " << Show(seen);
  EXPECT_TRUE(NonDecreasing(seen)) << Show(seen);
  EXPECT_TRUE(AllWithin(seen, 20, 55)) << Show(seen);
  if (!model.polledEvery5s) {
    EXPECT_GE(CountStrictlyBetween(seen, 20, 55), 1)
        << "no bearing on the way: " << Show(seen);
  }
  if (model.reportsSpeed) {
    EXPECT_TRUE(daemon.WaitForStdout(
        "Status: Rotator " + box.Device() + " Speed 20\n", 2000));
  }
  if (model.number == kRc2800Px.number) {
    EXPECT_EQ(daemon.CountStdout("Sending 55 to RC2800PX\n"), 1u);
  }

  // A long turn, stopped after about a second.
  Command("ROTATE 3 300");
  ASSERT_TRUE(box.WaitForLog("azimuth 055 -> 300", 3000))
      << "the box did not take the second turn command";
  std::vector<int> moving = BearingsFor(3, 1000);
  Command("STOP 3");
  ASSERT_TRUE(daemon.WaitForStdout("Status: " + box.Device() + " stop\n", 3000));
  int stoppedAt = StopPosition(box, 3000);
  ASSERT_GT(stoppedAt, 55) << "the box was not stopped mid-way";
  ASSERT_LT(stoppedAt, 300) << "the box was not stopped mid-way";
  EXPECT_TRUE(NonDecreasing(moving)) << Show(moving);
  EXPECT_TRUE(AllWithin(moving, 55, stoppedAt)) << Show(moving);

  // The stop position is reported (after at most what was already on its
  // way), and then nothing changes any more.
  if (Last(3) != stoppedAt) {
    int wait = model.polledEvery5s ? 8000 : 3000;
    seen = BearingsUntil(3, stoppedAt, wait, reached);
    ASSERT_TRUE(reached) << "stop position " << stoppedAt
                         << " never reported; got " << Show(seen);
    EXPECT_TRUE(AllWithin(seen, 55, stoppedAt)) << Show(seen);
  }
  std::vector<int> after = BearingsFor(3, 1000);
  EXPECT_TRUE(after.empty()) << "bearings after the stop: " << Show(after);
}

INSTANTIATE_TEST_SUITE_P(Models, FeedbackModelTest,
                         ::testing::ValuesIn(kFeedbackModels),
                         [](const ::testing::TestParamInfo<Model>& info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// DCU-1: no feedback, so the box's own log shows what happened.

// The exact bytes and the execute command's delay are tested in-process
// (tests/drivers); here the emulated antenna turns.
TEST_F(EmulatorTest, Dcu1TurnsWithSetPositionThenDelayedExecute) {
  StartDaemon();
  EmulatedBox& box = StartBox(kDcu1, {"--speed", "40"});
  Configure(1, box, kDcu1, 100);

  Command("ROTATE 1 45");
  EXPECT_TRUE(
      daemon.WaitForStdout("Status: " + box.Device() + " rotate to 45\n", 3000));
  ASSERT_TRUE(box.WaitForLog("rx \"AP1045;\"", 3000));
  ASSERT_TRUE(box.WaitForLog("rx \"AM1;\"", 3000))
      << "the execute command never came";
  EXPECT_TRUE(box.WaitForLog("azimuth 000 -> 045", 1000));
  EXPECT_TRUE(box.WaitForLog("azimuth reached 045", 5000));

  // STOP sends the box nothing, and nothing polls it.
  size_t received = box.CountLog("rx \"");
  Command("STOP 1");
  EXPECT_TRUE(daemon.WaitForStdout("Status: " + box.Device() + " stop\n", 3000));
  std::vector<int> bearings = BearingsFor(1, 500);
  EXPECT_EQ(box.CountLog("rx \""), received) << "something was sent on STOP";
  EXPECT_EQ(box.CountLog("AI1"), 0u) << "a DCU-1 box was polled";
  EXPECT_TRUE(bearings.empty()) << Show(bearings);
  EXPECT_EQ(Last(1), -1) << "a DCU-1 rotator reported a bearing";
}

TEST_F(EmulatorTest, ClientDisconnectReleasesRc2800Pa) {
  StartDaemon();
  EmulatedBox& box = StartBox(kRc2800Pa, {"--start", "10"});
  Configure(1, box, kRc2800Pa, 100);
  bool reached;
  BearingsUntil(1, 10, 3000, reached);
  EXPECT_TRUE(reached);
  client.Close();
  EXPECT_TRUE(daemon.WaitForStdout("Lost client connection", 3000));
  EXPECT_TRUE(box.WaitForLog("released by the daemon (N)", 3000));
}

// ---------------------------------------------------------------------------
// Noise before every reply.

struct GarbageCase {
  Model model;
  int bytes;     // --garbage
  bool resyncs;  // the reply parser finds the real replies among the noise
};

void PrintTo(const GarbageCase& c, std::ostream* out) {
  *out << c.model.name << " with " << c.bytes << " bytes of noise";
}

class GarbageTest : public EmulatorTest,
                    public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(GarbageTest, NoiseIsReportedAsBadResponsesAndTheTargetStillArrives) {
  const GarbageCase& c = GetParam();
  StartDaemon();
  EmulatedBox& box = StartBox(
      c.model, {"--speed", "40", "--start", "40", "--garbage",
                std::to_string(c.bytes)});
  Configure(1, box, c.model, 100);
  EXPECT_TRUE(daemon.WaitForStdout("Status: Bad response", 3000));

  Command("ROTATE 1 75");
  ASSERT_TRUE(box.WaitForLog("azimuth 040 -> 075", 3000));
  if (c.resyncs) {
    bool reached;
    std::vector<int> seen = BearingsUntil(1, 75, 10000, reached);
    EXPECT_TRUE(reached) << "bearing 075 never reported; got " << Show(seen);
  } else {
    // Every line is spoilt: nothing may pass for a bearing the antenna
    // never had.
    std::vector<int> seen = BearingsFor(1, 1500);
    EXPECT_TRUE(AllWithin(seen, 40, 75)) << Show(seen);
  }
  EXPECT_GE(daemon.CountStdout("Status: Bad response"), 2u);
  // Only the rotator's first bad reply goes to the error log.
  EXPECT_EQ(Count(daemon.Stderr(), "Bad response"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, GarbageTest,
    ::testing::Values(GarbageCase{kRotorEz, 3, true},
                      GarbageCase{kYaesu, 3, true},
                      // Five bytes of noise keep the 5-byte frames aligned.
                      GarbageCase{kSpid, 5, true},
                      GarbageCase{kRc2800Px, 5, false}),
    [](const ::testing::TestParamInfo<GarbageCase>& info) {
      return std::string(info.param.model.name);
    });

// ---------------------------------------------------------------------------
// A box that never answers.

class SilentBoxTest : public EmulatorTest,
                      public ::testing::WithParamInterface<Model> {};

TEST_P(SilentBoxTest, NoBearingsAndTheDaemonKeepsServing) {
  const Model& model = GetParam();
  StartDaemon();
  EmulatedBox& box =
      StartBox(model, {"--speed", "40", "--start", "40", "--silent"});
  Configure(1, box, model, 100);
  Command("ROTATE 1 75");
  EXPECT_TRUE(box.WaitForLog("azimuth 040 -> 075", 3000))
      << "the silent box should still turn";
  EXPECT_TRUE(box.WaitForLog("silent, not sent", 3000))
      << "the daemon never asked the box anything";

  std::vector<int> bearings = BearingsFor(1, 1200);
  EXPECT_TRUE(bearings.empty()) << Show(bearings);
  Command("VERSION");
  EXPECT_EQ(client.ReadLine(3000), "VERSION 2.0.1");
  EXPECT_EQ(daemon.Stderr().find("Bad response"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Models, SilentBoxTest,
                         ::testing::ValuesIn(kFeedbackModels),
                         [](const ::testing::TestParamInfo<Model>& info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// Replies cut into single bytes: one write each, or 5 ms apart.

class DribbledReplyTest
    : public EmulatorTest,
      public ::testing::WithParamInterface<std::tuple<Model, std::string>> {};

TEST_P(DribbledReplyTest, BearingsStillArrive) {
  const Model& model = std::get<0>(GetParam());
  std::string fault = std::get<1>(GetParam());
  std::vector<std::string> options = {"--speed", "40", "--start", "40"};
  if (fault == "split") {
    options.push_back("--split");
  } else {
    options.insert(options.end(), {"--slow", "5"});
  }
  StartDaemon();
  EmulatedBox& box = StartBox(model, options);
  Configure(1, box, model, 100);

  bool reached;
  std::vector<int> seen = BearingsUntil(1, 40, 3000, reached);
  EXPECT_TRUE(reached) << "start position never reported; got " << Show(seen);
  if (!model.polledEvery5s) {
    Command("ROTATE 1 60");
    seen = BearingsUntil(1, 60, 5000, reached);
    EXPECT_TRUE(reached) << "bearing 060 never reported; got " << Show(seen);
    EXPECT_TRUE(NonDecreasing(seen)) << Show(seen);
    EXPECT_TRUE(AllWithin(seen, 40, 60)) << Show(seen);
  }
  EXPECT_EQ(daemon.Stdout().find("Bad response"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Models, DribbledReplyTest,
    ::testing::Combine(::testing::ValuesIn(kFeedbackModels),
                       ::testing::Values(std::string("split"), std::string("slow"))),
    [](const ::testing::TestParamInfo<std::tuple<Model, std::string>>& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             std::get<1>(info.param);
    });

// ---------------------------------------------------------------------------
// A box unplugged while in use.

class VanishingBoxTest : public EmulatorTest,
                         public ::testing::WithParamInterface<Model> {};

TEST_P(VanishingBoxTest, ReadFailureIsLoggedAndANewBoxWorks) {
  const Model& model = GetParam();
  StartDaemon();
  EmulatedBox& gone =
      StartBox(model, {"--start", "40", "--vanish-after", "1"});
  Configure(1, gone, model, 100);
  bool reached;
  BearingsUntil(1, 40, 3000, reached);
  EXPECT_TRUE(reached) << "no bearing before the box went away";

  EXPECT_TRUE(daemon.WaitForStderr(
      "Read from serial port failed " + gone.Device() + ":", 5000));
  EXPECT_EQ(gone.WaitExit(3000), 0) << "zeva-boxsim --vanish-after";
  EXPECT_EQ(Count(daemon.Stderr(), "Read from serial port failed"), 1u);

  EmulatedBox& fresh = StartBox(model, {"--speed", "40", "--start", "100"});
  ASSERT_NE(fresh.Device(), gone.Device());
  Configure(2, fresh, model, 100);
  std::vector<int> seen = BearingsUntil(2, 100, 3000, reached);
  ASSERT_TRUE(reached) << "the new box's position never reported; got "
                       << Show(seen);
  Command("ROTATE 2 120");
  seen = BearingsUntil(2, 120, 5000, reached);
  EXPECT_TRUE(reached) << "bearing 120 never reported; got " << Show(seen);
}

INSTANTIATE_TEST_SUITE_P(Models, VanishingBoxTest,
                         ::testing::Values(kYaesu, kRc2800Px),
                         [](const ::testing::TestParamInfo<Model>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
