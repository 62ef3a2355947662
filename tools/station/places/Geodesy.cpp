#include "places/Geodesy.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <GeographicLib/Math.hpp>

#include <cmath>

double NormalAzimuth(double degrees) {
  double value = std::fmod(degrees, 360.0);
  if (value < 0) value += 360.0;
  return value >= 360.0 ? 0.0 : value;
}

Paths PathsBetween(const LatLon& from, const LatLon& to) {
  const GeographicLib::Geodesic& earth = GeographicLib::Geodesic::WGS84();
  const GeographicLib::GeodesicLine line =
      earth.InverseLine(from.latitude, from.longitude, to.latitude, to.longitude);
  Paths paths;
  paths.shortPath = NormalAzimuth(line.Azimuth());
  paths.longPath = NormalAzimuth(line.Azimuth() + 180);
  paths.km = line.Distance() / 1000;

  // Backwards along the same line, one whole turn of arc before the target,
  // then along the line to where the target is abeam (a few steps suffice:
  // each moves by the target's distance along the line's direction).
  double lat = 0, lon = 0, azimuth = 0, s = 0;
  line.ArcPosition(line.Arc() - 360, lat, lon, azimuth, s);
  for (int step = 0; step < 4; ++step) {
    double miss = 0, toTarget = 0, atTarget = 0;
    earth.Inverse(lat, lon, to.latitude, to.longitude, miss, toTarget, atTarget);
    const double along = miss * GeographicLib::Math::cosd(toTarget - azimuth);
    if (std::fabs(along) < 1) break;
    s += along;
    line.Position(s, lat, lon, azimuth);
  }
  paths.longKm = -s / 1000;
  return paths;
}
