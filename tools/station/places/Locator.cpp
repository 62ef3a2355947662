#include "places/Locator.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// Each pair of characters: how many values it takes and the size of the
// cell it names (longitude; latitude is half as tall), in degrees.
struct Level {
  char first;  // 'A' or '0'
  int count;
  double lonSize;
};
constexpr Level kLevels[] = {
    {'A', 18, 20.0}, {'0', 10, 2.0}, {'A', 24, 2.0 / 24}, {'0', 10, 2.0 / 240}, {'A', 24, 2.0 / 5760}};

}  // namespace

bool LocatorCentre(const std::string& locator, LatLon& centre) {
  const size_t pairs = locator.size() / 2;
  if (locator.size() % 2 != 0 || pairs < 2 || pairs > 5) return false;
  double lon = -180, lat = -90;
  for (size_t i = 0; i < pairs; ++i) {
    const Level& level = kLevels[i];
    const int x = toupper(static_cast<unsigned char>(locator[2 * i])) - level.first;
    const int y = toupper(static_cast<unsigned char>(locator[2 * i + 1])) - level.first;
    if (x < 0 || x >= level.count || y < 0 || y >= level.count) return false;
    lon += x * level.lonSize;
    lat += y * level.lonSize / 2;
  }
  centre.longitude = lon + kLevels[pairs - 1].lonSize / 2;
  centre.latitude = lat + kLevels[pairs - 1].lonSize / 4;
  return true;
}

std::string LocatorOf(const LatLon& point, int chars) {
  const int pairs = std::max(2, std::min(5, chars / 2));
  // Degrees from the grid's corner, kept inside it (the north pole and the
  // antimeridian belong to the last square).
  double lon = std::min(std::max(point.longitude + 180, 0.0), 359.999999999);
  double lat = std::min(std::max(point.latitude + 90, 0.0), 179.999999999);
  std::string text;
  for (int i = 0; i < pairs; ++i) {
    const Level& level = kLevels[i];
    const int x = std::min(level.count - 1, static_cast<int>(std::floor(lon / level.lonSize)));
    const int y = std::min(level.count - 1, static_cast<int>(std::floor(lat / (level.lonSize / 2))));
    lon -= x * level.lonSize;
    lat -= y * level.lonSize / 2;
    const char lower = (i >= 2 && level.first == 'A') ? 'a' - 'A' : 0;
    text += static_cast<char>(level.first + lower + x);
    text += static_cast<char>(level.first + lower + y);
  }
  return text;
}
