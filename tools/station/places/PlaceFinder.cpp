#include "places/PlaceFinder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "places/Locator.h"

namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// A number at `at`, with an optional hemisphere letter after it (`positive`
// and `negative`, any case); moves `at` past both.
bool ReadCoordinate(const std::string& text, size_t& at, char positive, char negative, double& value) {
  const char* start = text.c_str() + at;
  char* end = nullptr;
  errno = 0;
  value = strtod(start, &end);
  if (end == start || errno != 0 || !std::isfinite(value)) return false;
  // strtod also reads "inf", hexadecimal and exponents: a coordinate is digits.
  if (std::any_of(start, static_cast<const char*>(end),
                  [](char c) { return !isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+'; })) {
    return false;
  }
  at = static_cast<size_t>(end - text.c_str());
  while (at < text.size() && text[at] == ' ') ++at;
  if (at < text.size()) {
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(text[at])));
    if (letter == positive || letter == negative) {
      if (value < 0) return false;  // "-5W"
      if (letter == negative) value = -value;
      ++at;
    }
  }
  return true;
}

std::string Hemispheres(const LatLon& where) {
  char text[48];
  snprintf(text, sizeof text, "%.2f %c, %.2f %c", std::fabs(where.latitude), where.latitude < 0 ? 'S' : 'N',
           std::fabs(where.longitude), where.longitude < 0 ? 'W' : 'E');
  return text;
}

}  // namespace

const char* KindName(Place::Kind kind) {
  switch (kind) {
    case Place::Kind::Locator: return "locator";
    case Place::Kind::Position: return "position";
    default: return "country";
  }
}

bool ParsePosition(const std::string& text, LatLon& where) {
  size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  double latitude = 0, longitude = 0;
  if (!ReadCoordinate(text, at, 'N', 'S', latitude)) return false;
  const size_t gap = at;
  while (at < text.size() && text[at] == ' ') ++at;
  if (at < text.size() && text[at] == ',') ++at;
  else if (at == gap) return false;  // "52.1-5.1": no separator
  while (at < text.size() && text[at] == ' ') ++at;
  if (!ReadCoordinate(text, at, 'E', 'W', longitude)) return false;
  while (at < text.size() && text[at] == ' ') ++at;
  if (at != text.size() || std::fabs(latitude) > 90 || std::fabs(longitude) > 180) return false;
  where = {latitude, longitude};
  return true;
}

bool PlaceFinder::Find(const std::string& query, Place& place, std::string& reason) const {
  const std::string text = Trim(query);
  if (text.empty()) {
    reason = "no place given: a locator, latitude,longitude, a country, a callsign or a prefix";
    return false;
  }
  if (text.size() > kMaxQuery) {
    reason = "no place is named that long";
    return false;
  }
  if (LocatorCentre(text, place.where)) {
    place.kind = Place::Kind::Locator;
    place.name = LocatorOf(place.where, static_cast<int>(text.size()));
    return true;
  }
  if (ParsePosition(text, place.where)) {
    place.kind = Place::Kind::Position;
    place.name = Hemispheres(place.where);
    return true;
  }
  const bool callLike = std::all_of(text.begin(), text.end(), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '/';
  });
  const Country* named = countries.ByName(text);
  std::string upper;
  for (char c : text) upper += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (named != nullptr) {
    place.match = {named, named->prefix, named->continent, named->cqZone, named->ituZone, named->where};
  } else if (callLike && (upper.size() >= 3 && (upper.compare(upper.size() - 3, 3, "/MM") == 0 ||
                                                 upper.compare(upper.size() - 3, 3, "/AM") == 0))) {
    reason = text + " is maritime or aeronautical mobile: no fixed place";
    return false;
  } else if (!callLike || !countries.Lookup(upper, place.match)) {
    reason = "no place for '" + text + "': not a locator, a latitude,longitude, a country" +
             (countries.Empty() ? " (no country file is loaded)" : ", a callsign or a prefix of the country file");
    return false;
  }
  place.kind = Place::Kind::Country;
  place.name = place.match.country->name;
  place.where = place.match.where;
  return true;
}
