// Fuzzes what operators and files hand the station's place finder: the
// country file's parser (first byte even) and the query parser (odd), whose
// places must lie on the globe and give finite paths.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "places/CountryFile.h"
#include "places/Geodesy.h"
#include "places/Locator.h"
#include "places/PlaceFinder.h"

namespace {

const char kCountries[] =
    "Japan: 25: 45: AS: 36.40: -138.38: -9.0: JA:\n 7J,JA,=JA1ZZZ<10.0/-20.0>(1)[2]{OC}~-3~;\n"
    "United States: 05: 08: NA: 37.53: 91.67: 5.0: K:\n AA,K,N,W,KH6(31)[61],=W1AW;\n";

bool OnGlobe(const LatLon& where) { return std::fabs(where.latitude) <= 90 && std::fabs(where.longitude) <= 180; }

void Check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    CountryFile file;
    std::string error;
    if (!file.Parse(text, error)) {
      Check(file.Empty() && error.compare(0, 5, "line ") == 0);
      return 0;
    }
    for (const Country& country : file.Countries()) {
      Check(OnGlobe(country.where) && !country.name.empty());
      CountryMatch match;
      if (file.Lookup(country.prefix, match)) Check(OnGlobe(match.where));
    }
    return 0;
  }
  static const PlaceFinder finder = [] {
    CountryFile file;
    std::string error;
    Check(file.Parse(kCountries, error));
    return PlaceFinder(file);
  }();
  Place place;
  std::string reason;
  if (!finder.Find(text, place, reason)) {
    Check(!reason.empty());
    return 0;
  }
  Check(OnGlobe(place.where) && !place.name.empty());
  const Paths paths = PathsBetween({52.1, 5.1}, place.where);
  Check(paths.shortPath >= 0 && paths.shortPath < 360 && paths.longPath >= 0 && paths.longPath < 360);
  Check(paths.km >= 0 && paths.km < 20040 && paths.longKm > 20000 && paths.longKm < 40100);
  LatLon centre;
  Check(LocatorCentre(LocatorOf(place.where, 10), centre) && OnGlobe(centre));
  return 0;
}
