// Places and the sky: Maidenhead locators against their definition, the
// country file's format and a callsign's country, what the query parser
// makes of what operators type, and the geodesics and the sun and moon
// against PROJ's geod and PyEphem.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "places/CountryFile.h"
#include "places/Geodesy.h"
#include "places/Locator.h"
#include "places/PlaceFinder.h"
#include "places/Sky.h"

namespace {

// Runs a reference program with the lines as its standard input; returns
// the numbers of each line of its output.
std::vector<std::vector<double>> RunReference(const std::string& command, const std::vector<std::string>& lines) {
  char path[] = "/tmp/zeva-places-XXXXXX";
  close(mkstemp(path));
  std::ofstream input(path);
  for (const std::string& line : lines) input << line << "\n";
  input.close();
  std::vector<std::vector<double>> rows;
  FILE* out = popen((command + " < " + path).c_str(), "r");
  char buffer[512];
  while (out != nullptr && fgets(buffer, sizeof buffer, out) != nullptr) {
    std::istringstream words(buffer);
    std::vector<double> row;
    for (double value; words >> value;) row.push_back(value);
    rows.push_back(row);
  }
  EXPECT_TRUE(out != nullptr && pclose(out) == 0) << command << " failed (is its package installed?)";
  unlink(path);
  EXPECT_EQ(rows.size(), lines.size()) << command;
  return rows;
}

// Degrees between two azimuths, whichever way is shorter.
double AzimuthGap(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

template <class... Values>
std::string Format(const char* format, Values... values) {
  char text[160];
  snprintf(text, sizeof text, format, values...);
  return text;
}

std::string Fixed(const LatLon& where) { return Format("%.6f %.6f", where.latitude, where.longitude); }


TEST(LocatorTest, SquaresAndTheirCentresFollowTheDefinition) {
  // Field 20 x 10 degrees from 180 W, 90 S; square 2 x 1; subsquare 5' x 2.5';
  // extended square 30" x 15"; its subsquare 1.25" x 0.625". The centre is
  // half a cell of the last pair in.
  struct Case {
    const char* locator;
    double latitude, longitude;
    const char* back;  // LocatorOf(centre, length)
  };
  const Case cases[] = {
      {"JO22", 52.5, 5.0, "JO22"},
      {"fn31PR", 41 + 17 / 24.0 + 1 / 48.0, -74 + 15 / 12.0 + 1 / 24.0, "FN31pr"},
      {"AA00", -89.5, -179.0, "AA00"},
      {"RR99XX", 89 + 23 / 24.0 + 1 / 48.0, 178 + 23 / 12.0 + 1 / 24.0, "RR99xx"},
      {"JO22OI50", 52 + 8 / 24.0 + 1 / 480.0, 4 + 14 / 12.0 + 5 / 120.0 + 1 / 240.0, "JO22oi50"},
      {"JO22OI50AX", 52 + 8 / 24.0 + 23 / 5760.0 + 1 / 11520.0, 4 + 14 / 12.0 + 5 / 120.0 + 1 / 5760.0, "JO22oi50ax"},
  };
  for (const Case& c : cases) {
    LatLon centre;
    ASSERT_TRUE(LocatorCentre(c.locator, centre)) << c.locator;
    EXPECT_NEAR(centre.latitude, c.latitude, 1e-9) << c.locator;
    EXPECT_NEAR(centre.longitude, c.longitude, 1e-9) << c.locator;
    EXPECT_EQ(LocatorOf(centre, static_cast<int>(strlen(c.locator))), c.back);
  }
  // The poles and the antimeridian belong to the last squares.
  EXPECT_EQ(LocatorOf({90, 180}, 6) + " " + LocatorOf({-90, -180}, 6) + " " + LocatorOf({-33.87, 151.21}), "RR99xx AA00aa QF56od");
  for (const char* wrong : {"", "JO2", "JO22A", "SA00", "JO22YA", "JO2A", "JO22AA0", "JO22AA00AY", "JO22AA:0AA", "JO22AA00AA00"}) {
    LatLon centre;
    EXPECT_FALSE(LocatorCentre(wrong, centre)) << wrong;
  }
}


const char* const kCountries =
    "Japan:                    25:  45:  AS:   36.40:  -138.38:    -9.0:  JA:\n"
    "    7J,JA,JE,\n"
    "    JR,=JA1ZZZ<10.0/-20.0>(1)[2]{OC}~-3~;\n"
    "Ogasawara:                27:  45:  AS:   27.05:  -142.20:    -9.0:  JD/o:\r\n"
    "    JD1;\r\n"
    "United States:            05:  08:  NA:   37.53:    91.67:     5.0:  K:\n"
    "    AA,K,N,W,KH6(31)[61],=W1AW<41.71/72.73>;\n"
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DL;\n"
    "Sicily:                   15:  28:  EU:   37.50:   -14.00:    -1.0:  *IT9:\n"
    "    IT9;\n";

TEST(CountryFileTest, CallsignsFindTheirEntityByExactCallOrLongestPrefix) {
  CountryFile file;
  std::string error;
  ASSERT_TRUE(file.Parse(kCountries, error)) << error;
  ASSERT_EQ(file.Countries().size(), 5u);
  EXPECT_EQ(file.Countries()[4].prefix + (file.Countries()[4].waeOnly ? " WAE" : ""), "IT9 WAE");
  EXPECT_EQ(file.Countries()[0].utcOffset, 9);
  // call -> entity, alias, zones, continent, place (longitude east positive)
  const std::pair<const char*, const char*> cases[] = {
      {"ja1xyz", "Japan JA 25 45 AS 36.400000 138.380000"},
      {"JA1ZZZ", "Japan =JA1ZZZ 1 2 OC 10.000000 20.000000"},
      {"JA1ZZZA", "Japan JA 25 45 AS 36.400000 138.380000"},
      {"JD1ABC", "Ogasawara JD1 27 45 AS 27.050000 142.200000"},
      {"KH6XYZ", "United States KH6 31 61 NA 37.530000 -91.670000"},
      {"K1ABC", "United States K 5 8 NA 37.530000 -91.670000"},
      {"W1AW", "United States =W1AW 5 8 NA 41.710000 -72.730000"},
      {"W1AW/P", "United States =W1AW 5 8 NA 41.710000 -72.730000"},
      {"DL/W1XYZ", "Fed. Rep. of Germany DL 14 28 EU 51.000000 10.000000"},
      {"W1XYZ/KH6", "United States KH6 31 61 NA 37.530000 -91.670000"},
      {"JA1XYZ/3/QRP", "Japan JA 25 45 AS 36.400000 138.380000"},
      {"XX9ABC", "-"},
      {"/P", "-"},
  };
  for (const auto& c : cases) {
    CountryMatch match;
    std::string got = "-";
    if (file.Lookup(c.first, match)) {
      got = match.country->name + " " + match.alias + " " + std::to_string(match.cqZone) + " " +
            std::to_string(match.ituZone) + " " + match.continent + " " + Fixed(match.where);
    }
    EXPECT_EQ(got, c.second) << c.first;
  }
  EXPECT_EQ(file.ByName("united STATES"), &file.Countries()[2]);
}

TEST(CountryFileTest, AFileOutOfFormatIsRefusedWithItsLine) {
  const std::string good = "Japan: 25: 45: AS: 36.40: -138.38: -9.0: JA:\n    JA;\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", "line 1: no entity"},
      {"Japan: 25: 45: AS: 36.40: -138.38: -9.0:\n    JA;\n", "line 1: an entity's line needs eight fields"},
      {good + "\nJapan: x: 45: AS: 36.40: -138.38: -9.0: JA:\n JA;", "line 4: Japan: zones"},
      {good + "Japan: 25: 45: XY: 36.40: -138.38: -9.0: JA:\n JA;", "line 3: Japan: unknown continent"},
      {"Japan: 25: 45: AS: 95: -138.38: -9.0: JA:\n JA;", "line 1: Japan: latitude"},
      {"Japan: 25: 45: AS: 36.4: 1e999: -9.0: JA:\n JA;", "line 1: Japan: latitude"},
      {"Japan: 25: 45: AS: 36.4: -138.38: -9.0: JA:\n JA,JE\n", "line 1: Japan: the prefixes do not end"},
      {"Japan: 25: 45: AS: 36.4: -138.38: -9.0: JA:\n JA,\n JE(25;", "line 3: Japan: 'JE(25' is not a prefix"},
      {"Japan: 25: 45: AS: 36.4: -138.38: -9.0: JA:\n JA,\n\n JE<1/x>;", "line 4: Japan: bad override"},
      {"Japan: 25: 45: AS: 36.4: -138.38: -9.0: JA:\n J A;", "line 2: Japan: 'J A' is not a prefix"},
  };
  for (const auto& c : cases) {
    CountryFile file;
    std::string error;
    EXPECT_FALSE(file.Parse(c.first, error)) << c.first;
    EXPECT_EQ(error.substr(0, c.second.size()), c.second) << c.first;
    EXPECT_TRUE(file.Empty());
  }
}

TEST(CountryFileTest, DebiansCountryFileIsRead) {
  CountryFile file;
  std::string error;
  ASSERT_TRUE(file.Load("/usr/share/hamradio-files/cty.dat", error)) << error << " (apt-get install hamradio-files)";
  EXPECT_GT(file.Countries().size(), 300u);
  for (const auto& c : {std::make_pair("PA3XYZ", "Netherlands"), std::make_pair("VK2ABC", "Australia"),
                        std::make_pair("JA1XYZ", "Japan"), std::make_pair("4U1ITU", "ITU HQ")}) {
    CountryMatch match;
    ASSERT_TRUE(file.Lookup(c.first, match)) << c.first;
    EXPECT_EQ(match.country->name, c.second);
  }
}


TEST(PlaceFinderTest, QueriesNameLocatorsPositionsCountriesAndCallsigns) {
  CountryFile countries;
  std::string error;
  ASSERT_TRUE(countries.Parse(kCountries, error)) << error;
  const PlaceFinder finder(countries);
  const std::pair<const char*, const char*> cases[] = {
      {" jo22 ", "locator JO22 52.500000 5.000000"},
      {"52.1,5.1", "position 52.10 N, 5.10 E 52.100000 5.100000"},
      {"33.9S 151.2E", "position 33.90 S, 151.20 E -33.900000 151.200000"},
      {"-33.9, -151.2", "position 33.90 S, 151.20 W -33.900000 -151.200000"},
      {"33.9 s 151.2 w", "position 33.90 S, 151.20 W -33.900000 -151.200000"},
      {"japan", "country Japan 36.400000 138.380000"},
      {"ja1xyz", "country Japan 36.400000 138.380000"},
      {"JA1ZZZ", "country Japan 10.000000 20.000000"},
      {"dl", "country Fed. Rep. of Germany 51.000000 10.000000"},
      {"W1XYZ/MM", "! W1XYZ/MM is maritime"},
      {"91,0", "! no place for '91,0'"},
      {"52.1-5.1", "! no place"},
      {"1e1,5", "! no place"},
      {"inf,5", "! no place"},
      {"-5S,5", "! no place"},
      {"0,180.5", "! no place"},
      {"JA1XYZ; rm", "! no place"},
      {"", "! no place given"},
      {"JAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "! no place is named that long"},
  };
  for (const auto& c : cases) {
    Place place;
    std::string reason;
    std::string got = finder.Find(c.first, place, reason)
                          ? std::string(KindName(place.kind)) + " " + place.name + " " + Fixed(place.where)
                          : "! " + reason;
    EXPECT_EQ(got.substr(0, strlen(c.second)), c.second) << c.first;
  }
  PlaceFinder none;
  Place place;
  EXPECT_FALSE(none.Find("JA1XYZ", place, error));
  EXPECT_NE(error.find("no country file"), std::string::npos) << error;
}


TEST(GeodesyTest, ShortAndLongPathsAgreeWithProjGeod) {
  // Stations spread over the globe; the poles, the antimeridian, exact and
  // near antipodes among them.
  const LatLon points[] = {{52.1, 5.1},   {-33.87, 151.21}, {35.68, 139.69}, {40.71, -74.0},
                           {-54.8, -68.3}, {64.13, -21.9},   {0, 0},          {0, 180},
                           {90, 0},        {-90, 0},         {-52.1, -174.9}, {-51.9, -175.2},
                           {1.3, 103.8},   {-0.5, -179.9}};
  std::vector<std::pair<LatLon, LatLon>> pairs;
  std::vector<std::string> inverse;
  for (const LatLon& a : points) {
    for (const LatLon& b : points) {
      if (a.latitude == b.latitude && a.longitude == b.longitude) continue;
      pairs.emplace_back(a, b);
      inverse.push_back(Fixed(a) + " " + Fixed(b));
    }
  }
  const std::string geod = std::string(ZEVA_GEOD) + " +ellps=WGS84 +units=m -f %.9f";
  const auto reference = RunReference(geod + " -I", inverse);
  ASSERT_EQ(reference.size(), pairs.size());

  // The long path: geod follows our azimuth and distance from the station;
  // where it arrives, the target must be abeam (along the way less than
  // 0.1 % of the distance ahead or behind).
  std::vector<Paths> ours;
  std::vector<std::string> direct;
  for (const auto& p : pairs) {
    ours.push_back(PathsBetween(p.first, p.second));
    direct.push_back(Format("%s %.9f %.3f", Fixed(p.first).c_str(), ours.back().longPath, ours.back().longKm * 1000));
  }
  const auto arrivals = RunReference(geod, direct);
  std::vector<std::string> misses;
  for (size_t i = 0; i < pairs.size(); ++i)
    misses.push_back(Format("%.9f %.9f %s", arrivals[i].at(0), arrivals[i].at(1), Fixed(pairs[i].second).c_str()));
  const auto abeam = RunReference(geod + " -I", misses);

  for (size_t i = 0; i < pairs.size(); ++i) {
    const std::string& name = inverse[i];
    const Paths& path = ours[i];
    const double km = reference[i].at(2) / 1000;
    EXPECT_LE(AzimuthGap(path.shortPath, reference[i].at(0)), 0.1) << name;
    EXPECT_LE(AzimuthGap(path.longPath, reference[i].at(0) + 180), 0.1) << name;
    EXPECT_NEAR(path.km, km, 0.001 * km + 1e-6) << name;
    EXPECT_GT(path.longKm, 20003.9 - 1e-6) << name;
    // At the arrival, geod's back azimuth points home: the way on is opposite.
    const double ahead = abeam[i].at(2) / 1000 * std::cos((abeam[i].at(0) - arrivals[i].at(2) - 180) * M_PI / 180);
    EXPECT_LE(std::fabs(ahead), 0.001 * path.longKm) << name;
  }
}

TEST(SkyTest, SunAndMoonAgreeWithPyEphem) {
  Body body = Body::Sun;
  EXPECT_TRUE(BodyFromName("Moon", body) && body == Body::Moon);
  EXPECT_FALSE(BodyFromName("venus", body));
  struct Case {
    LatLon station;
    long long unixTime;
  };
  const Case cases[] = {
      {{52.1, 5.1}, 1767225600},   {{-33.87, 151.21}, 1780000000}, {{70, -150}, 1790000000},
      {{0, 0}, 1800000000},        {{-77.85, 166.67}, 1735689600}, {{40.71, -74.0}, 1893456000},
      {{35.68, 139.69}, 1751328000}, {{64.13, -21.9}, 1760000000},
  };
  std::vector<std::string> lines;
  for (const Case& c : cases) lines.push_back(Fixed(c.station) + " " + std::to_string(c.unixTime));
  // Topocentric and without refraction, as ours: pressure 0.
  const std::string script =
      "import datetime, ephem, math, sys\n"
      "for line in sys.stdin:\n"
      "  lat, lon, t = line.split()\n"
      "  o = ephem.Observer(); o.lat = lat; o.lon = lon; o.elevation = 0; o.pressure = 0\n"
      "  o.date = datetime.datetime.fromtimestamp(int(t), datetime.timezone.utc).replace(tzinfo=None)\n"
      "  print(*[math.degrees(v) for body in (ephem.Sun(o), ephem.Moon(o)) for v in (body.az, body.alt)])\n";
  const auto reference = RunReference(std::string(ZEVA_PYTHON3) + " -c '" + script + "'", lines);
  ASSERT_EQ(reference.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(cases[i].unixTime));
    for (Body body : {Body::Sun, Body::Moon}) {
      const SkyPosition ours = Locate(body, cases[i].station, when);
      const double az = reference[i].at(body == Body::Sun ? 0 : 2);
      const double el = reference[i].at(body == Body::Sun ? 1 : 3);
      // The angle between the two directions on the sky.
      const double d = M_PI / 180;
      const double cosine = std::sin(el * d) * std::sin(ours.elevation * d) +
                            std::cos(el * d) * std::cos(ours.elevation * d) * std::cos((az - ours.azimuth) * d);
      EXPECT_LE(std::acos(std::min(1.0, cosine)) / d, 0.3) << lines[i] << " " << BodyName(body);
      EXPECT_NEAR(ours.elevation, el, 0.3) << lines[i] << " " << BodyName(body);
    }
  }
}

}  // namespace
