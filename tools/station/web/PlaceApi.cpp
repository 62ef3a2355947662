#include "web/PlaceApi.h"

#include <cstdio>

#include "places/Locator.h"
#include "places/Sky.h"
#include "web/Json.h"

namespace {

std::string Fixed(double value, int decimals) {
  char text[32];
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

WebReply NotFound(const std::string& reason) { return {404, JsonError(reason)}; }

}  // namespace

PlaceApi::PlaceApi(const StationOptions& options, const PlaceFinder& places)
    : options(options), places(places) {
  const bool placed = !options.placeName.empty();
  std::string json = "{\"countries\":[";
  bool first = true;
  for (const Country& country : places.Countries().Countries()) {
    json += first ? "[" : ",[";
    first = false;
    json += JsonString(country.name) + "," + JsonString(country.prefix) + "," + JsonString(country.continent) + "," +
            Fixed(country.where.latitude, 2) + "," + Fixed(country.where.longitude, 2);
    if (placed) {
      const Paths paths = PathsBetween(options.place, country.where);
      json += "," + Fixed(paths.shortPath, 2) + "," + Fixed(paths.km, 1) + "]";
    } else {
      json += ",null,null]";
    }
  }
  countries = {200, json + "]}"};
}

bool PlaceApi::Locate(const std::string& query, Place& place, std::string& reason) const {
  if (options.placeName.empty()) {
    reason = kNoPlace;
    return false;
  }
  return places.Find(query, place, reason);
}

WebReply PlaceApi::Bearing(const std::string& query) const {
  Place place;
  std::string reason;
  if (!Locate(query, place, reason)) return NotFound(reason);
  const Paths paths = PathsBetween(options.place, place.where);
  std::string json = "{\"name\":" + JsonString(place.name) + ",\"kind\":\"" + KindName(place.kind) +
                     "\",\"latitude\":" + Fixed(place.where.latitude, 4) +
                     ",\"longitude\":" + Fixed(place.where.longitude, 4) +
                     ",\"locator\":" + JsonString(LocatorOf(place.where, 6)) +
                     ",\"shortPath\":" + Fixed(paths.shortPath, 2) + ",\"longPath\":" + Fixed(paths.longPath, 2) +
                     ",\"km\":" + Fixed(paths.km, 1) + ",\"longKm\":" + Fixed(paths.longKm, 1);
  if (place.kind == Place::Kind::Country) {
    const CountryMatch& match = place.match;
    json += ",\"prefix\":" + JsonString(match.country->prefix) + ",\"continent\":" + JsonString(match.continent) +
            ",\"cqZone\":" + std::to_string(match.cqZone) + ",\"ituZone\":" + std::to_string(match.ituZone);
  }
  return {200, json + "}"};
}

WebReply PlaceApi::Sky(std::chrono::system_clock::time_point now) const {
  if (options.placeName.empty()) return NotFound(kNoPlace);
  std::string json = "{";
  for (Body body : {Body::Sun, Body::Moon}) {
    const SkyPosition position = ::Locate(body, options.place, now);
    json += std::string(body == Body::Sun ? "" : ",") + "\"" + BodyName(body) + "\":{\"azimuth\":" +
            Fixed(position.azimuth, 2) + ",\"elevation\":" + Fixed(position.elevation, 2) + "}";
  }
  return {200, json + "}"};
}

bool PlaceApi::Aim(const std::string& query, bool longPath, double& azimuth, std::string& name,
                   std::string& reason) const {
  Place place;
  if (!Locate(query, place, reason)) return false;
  const Paths paths = PathsBetween(options.place, place.where);
  azimuth = longPath ? paths.longPath : paths.shortPath;
  name = place.name + (longPath ? ", long path" : "");
  return true;
}
