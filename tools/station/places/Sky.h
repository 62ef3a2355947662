// Where the sun and the moon stand in a station's sky: azimuth from true
// north and elevation above the horizon, in degrees, from libnova.
//
// Positions are topocentric (the moon seen from the station, not from the
// earth's centre: up to a degree apart) and geometric: no refraction, which
// radio waves and light bend differently. A body is up at elevation 0.
//
// libnova keeps its last results in static variables, so every call goes
// through one mutex here: any thread may call.
#pragma once

#include <chrono>
#include <string>

#include "places/Geodesy.h"

enum class Body { Sun, Moon };

struct SkyPosition {
  double azimuth = 0;    // 0 <= x < 360, north 0, east 90
  double elevation = 0;  // -90..90
};

SkyPosition Locate(Body body, const LatLon& station, std::chrono::system_clock::time_point when);

// "sun", "moon"; and back (any case).
const char* BodyName(Body body);
bool BodyFromName(const std::string& name, Body& body);
