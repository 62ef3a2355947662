// Finds the place an operator names, the way they name it: a Maidenhead
// locator (JO22, FN31pr), a latitude and longitude ("52.1,5.1",
// "33.9S 151.2E"), the name of a country ("Japan") or a callsign or prefix
// looked up in the country file (JA1XYZ, VK, DL/PA3XYZ).
//
// Queries come from outside (the page, zeva-ctl): anything not a place is
// answered with a reason, never guessed at.
//
// Owns the country file. Loaded once on the station's thread before
// anything is served; Find is const and any thread may call it afterwards.
#pragma once

#include <string>
#include <utility>

#include "places/CountryFile.h"
#include "places/Geodesy.h"

struct Place {
  enum class Kind { Locator, Position, Country };
  Kind kind = Kind::Position;
  std::string name;    // "FN31pr", "52.10 N, 5.10 E", "Japan"
  LatLon where;
  CountryMatch match;  // Kind::Country: the entity and the alias that matched
};

const char* KindName(Place::Kind kind);  // "locator", "position", "country"

// "LAT,LON" or "LAT LON", decimal degrees, each either signed or followed by
// N/S and E/W.
bool ParsePosition(const std::string& text, LatLon& where);

class PlaceFinder {
 public:
  static constexpr size_t kMaxQuery = 64;

  explicit PlaceFinder(CountryFile countries = CountryFile()) : countries(std::move(countries)) {}

  const CountryFile& Countries() const { return countries; }

  // The place a query names; false with the reason for the operator.
  bool Find(const std::string& query, Place& place, std::string& reason) const;

 private:
  CountryFile countries;
};
