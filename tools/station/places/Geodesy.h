// Where places are and the ways between them: a point on the WGS84
// ellipsoid, and the short and long paths from one point to another.
//
// The geodesics come from GeographicLib (Karney's algorithms, exact to
// nanometres), never from spherical formulas. The long path is the way a
// signal leaves in the opposite direction of the short path: the same
// geodesic followed the other way round, whose length is counted to where it
// passes the target (on the ellipsoid a geodesic does not close, so it
// misses the target by up to some tens of kilometres; a beam does not tell).
//
// Plain functions without state; any thread may call them.
#pragma once

// Degrees: latitude north positive, longitude east positive (-180..180).
struct LatLon {
  double latitude = 0;
  double longitude = 0;
};

struct Paths {
  double shortPath = 0;  // initial azimuth of the shortest geodesic, 0 <= x < 360
  double longPath = 0;   // the opposite direction, 0 <= x < 360
  double km = 0;         // the shortest geodesic's length
  double longKm = 0;     // the long path's length to where it passes the target
};

Paths PathsBetween(const LatLon& from, const LatLon& to);

// An azimuth brought into 0 <= x < 360.
double NormalAzimuth(double degrees);
