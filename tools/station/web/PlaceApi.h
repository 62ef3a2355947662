// The page's questions about places and the sky, answered as JSON from the
// places library: the bearings to a place an operator names (GET
// /api/bearing), where the sun and the moon are (GET /api/sky), every
// country of the country file for the map (GET /api/countries), and the
// azimuth a turn to a place means (POST /api/aim).
//
// Owned by WebFront; its members are const, and any web thread may call
// them (the place finder is read-only once loaded, the sky goes through
// its own lock). The options and the place finder belong to Station and
// outlive it.
#pragma once

#include <chrono>
#include <string>

#include "core/StationOptions.h"
#include "places/PlaceFinder.h"
#include "web/WebBoard.h"

class PlaceApi {
 public:
  // Why places and the sky cannot be answered without the station's place.
  static constexpr const char* kNoPlace =
      "the station's own place is not set: start zeva-station with --locator or --position";

  PlaceApi(const StationOptions& options, const PlaceFinder& places);

  // {"name":"Japan","kind":"country","latitude":36.4,"longitude":138.38,
  //  "locator":"PM96sj","shortPath":32.57,"longPath":212.57,"km":9223.6,
  //  "longKm":30796.2[,"prefix":"JA","continent":"AS","cqZone":25,"ituZone":45]},
  // or 404 with {"error":REASON}.
  WebReply Bearing(const std::string& query) const;
  // {"sun":{"azimuth":..,"elevation":..},"moon":{..}}, or 404 without the
  // station's place.
  WebReply Sky(std::chrono::system_clock::time_point now) const;
  // {"countries":[["Japan","JA","AS",36.4,138.38,32.57,9223.6],...]}: name,
  // primary prefix, continent, latitude, longitude, short-path azimuth and
  // km (null without the station's place). Made once.
  const WebReply& Countries() const { return countries; }
  // The azimuth of a turn to the place, short or long path; false with the
  // reason (for a 404). `name` says where it goes ("Japan, long path").
  bool Aim(const std::string& query, bool longPath, double& azimuth, std::string& name,
           std::string& reason) const;

 private:
  bool Locate(const std::string& query, Place& place, std::string& reason) const;

  const StationOptions& options;
  const PlaceFinder& places;
  WebReply countries;
};
