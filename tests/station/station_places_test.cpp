// The station's place on its command line, and rotators following the sun
// and the moon: turned as the body moves on, given up when it sets or
// another command comes, sent again when the rotator forgot its target.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/DaemonLink.h"
#include "core/SkyFollower.h"
#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "places/PlaceFinder.h"
#include "web/PlaceApi.h"

namespace {

bool ParseArgs(std::vector<std::string> args, StationOptions& options, std::string& error) {
  args.insert(args.begin(), "zeva-station");
  args.insert(args.end(), {"--rotator", "1:/dev/a:yaesu:1000"});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return options.Parse(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(StationPlaceTest, TheStationsPlaceIsALocatorOrAPosition) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--http", "8080", "--locator", "jo22OB"}, "JO22ob 52.062500 5.208333 3.0"},
      {{"--http", "8080", "--position", "33.9S,151.2E", "--follow-step", "0.5"}, "33.9S,151.2E -33.900000 151.200000 0.5"},
      {{"--http", "8080", "--locator", "JO22", "--position", "52,5"}, "! --locator and --position: give the station's place once"},
      {{"--http", "8080", "--locator", "JO2"}, "! --locator JO2: expected a Maidenhead locator"},
      {{"--http", "8080", "--position", "95,5"}, "! --position 95,5: expected LATITUDE,LONGITUDE"},
      {{"--http", "8080", "--follow-step", "0"}, "! --follow-step 0: expected degrees"},
      {{"--locator", "JO22"}, "! --locator or --position is for the web page"},
      {{"--country-file", "/x"}, "! --country-file is for the web page"},
  };
  for (const auto& c : cases) {
    StationOptions options;
    std::string error;
    std::string got;
    if (ParseArgs(c.first, options, error)) {
      char text[96];
      snprintf(text, sizeof text, "%s %.6f %.6f %.1f", options.placeName.c_str(), options.place.latitude,
               options.place.longitude, options.followStep);
      got = text;
    } else {
      got = "! " + error;
    }
    EXPECT_EQ(got.substr(0, c.second.size()), c.second) << ::testing::PrintToString(c.first);
  }
}

// Follows the moon from a station at JO22 (52.5 N, 5 E) on 1 January 2026,
// when it stands in the west and sets at 06:08 UTC, with a rotator of the
// range. The script: "F<HH:MM>" starts at that time ("!reason" if refused),
// "+<minutes>" lets the follower look that much later, "T<az>" is another
// client's turn, "lost" the daemon's link failing, "take" the command that
// goes to the daemon ("-": none), "?" the body followed ("none").
std::string FollowMoon(const std::string& script, int minAz = 0, int maxAz = 360) {
  using namespace std::chrono;
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  StationRotator rotator({1, "/dev/null", 4, 0, 0, minAz, maxAz, "", 0}, link);  // a Yaesu on /dev/null
  SkyFollower follower({52.5, 5.0}, 3);
  const system_clock::time_point midnight(seconds(1767225600));  // 2026-01-01 00:00 UTC
  system_clock::time_point wall = midnight;
  steady_clock::time_point now = steady_clock::now();
  std::istringstream ops(script);
  std::string op, out, line, reason;
  while (ops >> op) {
    if (op[0] == 'F') {
      wall = midnight + hours(std::stoi(op.substr(1, 2))) + minutes(std::stoi(op.substr(4, 2)));
      uint64_t ticket = 0;
      out += follower.Start(rotator, Body::Moon, "test", wall, ticket, reason) ? "" : " !" + reason;
    } else if (op[0] == '+') {
      wall += minutes(std::stoi(op.substr(1)));
      now += seconds(60 * std::stoi(op.substr(1)));
      follower.OnTimer(now, wall);
    } else if (op[0] == 'T') {
      rotator.Turn(std::stoi(op.substr(1)), "rotctld");
    } else if (op == "lost") {
      rotator.OnLinkLost(true);
    } else if (op == "take") {
      out += " " + (rotator.TakeCommand(line) ? line : "-");
    } else if (op == "?") {
      Body body;
      out += std::string(" ") + (follower.Following(rotator, body) ? BodyName(body) : "none");
    }
  }
  return out.empty() ? out : out.substr(1);
}

TEST(SkyFollowerTest, ARotatorFollowsTheMoonInStepsUntilItSets) {
  const std::pair<const char*, const char*> cases[] = {
      // Started at 05:00 (azimuth 304.3): turned there; then every 3 degrees.
      {"F05:00 take ? +10 take +10 take +10 take +10 take", "ROTATE 1 304 moon - ROTATE 1 308 - ROTATE 1 312"},
      // It sets at 06:08: following ends, the rotator stays.
      {"F05:50 take +10 ? +10 ? take", "ROTATE 1 313 moon none -"},
      // Any other command ends it.
      {"F05:00 take T100 +30 take ?", "ROTATE 1 304 ROTATE 1 100 none"},
      // A rotator that forgot its target (the daemon's link failed) gets it again.
      {"F05:00 take lost +1 take", "ROTATE 1 304 ROTATE 1 304"},
      // Refused: below the horizon; outside the rotator's range.
      {"F12:00 ? take", "!the moon is below the horizon (elevation -5.7°) none -"},
  };
  for (const auto& c : cases) EXPECT_EQ(FollowMoon(c.first), c.second) << c.first;
  EXPECT_EQ(FollowMoon("F05:00 ? take", 90, 270), "!the moon at azimuth 304.3 is outside rotator 1's range none -");
}

TEST(PlaceApiTest, PlacesAndTheSkyAnswerAsJson) {
  StationOptions options;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--http", "8080", "--locator", "JO22"}, options, error)) << error;
  CountryFile countries;
  ASSERT_TRUE(countries.Parse("Japan: 25: 45: AS: 36.40: -138.38: -9.0: JA:\n JA,JE;\n", error)) << error;
  const PlaceFinder places(countries);
  const PlaceApi api(options, places);
  const std::pair<const char*, const char*> bearings[] = {
      {"je1abc", "200 {\"name\":\"Japan\",\"kind\":\"country\",\"latitude\":36.4000,\"longitude\":138.3800,"
                 "\"locator\":\"PM96ej\",\"shortPath\":36.14,\"longPath\":216.14,\"km\":9172.7,\"longKm\":30843.9,"
                 "\"prefix\":\"JA\",\"continent\":\"AS\",\"cqZone\":25,\"ituZone\":45}"},
      {"FN31pr", "200 {\"name\":\"FN31pr\",\"kind\":\"locator\",\"latitude\":41.7292,\"longitude\":-72.7083,"
                 "\"locator\":\"FN31pr\",\"shortPath\":290.98,\"longPath\":110.98,\"km\":5723.8,\"longKm\":34306.0}"},
      {"W1AW", "404 {\"error\":\"no place for 'W1AW': not a locator"},
  };
  for (const auto& c : bearings) {
    const WebReply reply = api.Bearing(c.first);
    const std::string got = std::to_string(reply.status) + " " + reply.body;
    EXPECT_EQ(got.substr(0, strlen(c.second)), c.second) << c.first;
  }
  double azimuth = 0;
  std::string name;
  ASSERT_TRUE(api.Aim("JA", true, azimuth, name, error)) << error;
  EXPECT_EQ(name + " " + std::to_string(std::lround(azimuth)), "Japan, long path 216");
  EXPECT_EQ(api.Countries().body, "{\"countries\":[[\"Japan\",\"JA\",\"AS\",36.40,138.38,36.14,9172.7]]}");
  EXPECT_EQ(api.Sky(std::chrono::system_clock::time_point(std::chrono::seconds(1767243600))).body,
            "{\"sun\":{\"azimuth\":96.32,\"elevation\":-24.55},\"moon\":{\"azimuth\":304.32,\"elevation\":7.19}}");

  // Without the station's own place nothing has a bearing.
  StationOptions nowhere;
  ASSERT_TRUE(ParseArgs({"--http", "8080"}, nowhere, error)) << error;
  const PlaceApi lost(nowhere, places);
  EXPECT_EQ(lost.Bearing("JA").status, 404);
  EXPECT_NE(lost.Sky(std::chrono::system_clock::now()).body.find("--locator or --position"), std::string::npos);
  EXPECT_EQ(lost.Countries().body, "{\"countries\":[[\"Japan\",\"JA\",\"AS\",36.40,138.38,null,null]]}");
}

}  // namespace
