#include "Antenna.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "BoxLog.h"

namespace {

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

int Round(double value) { return static_cast<int>(std::lround(value)); }

std::string Degrees(double value) {
  char text[16];
  snprintf(text, sizeof text, "%03d", Round(value));
  return text;
}

}  // namespace

Antenna::Antenna(double degreesPerSecond, int startAzimuth, int startElevation, int minAzimuth,
                 int maxAzimuth)
    : speed(degreesPerSecond), minAzimuth(minAzimuth), maxAzimuth(maxAzimuth) {
  azimuth.position = azimuth.target = Clamp(startAzimuth, minAzimuth, maxAzimuth);
  elevation.position = elevation.target = Clamp(startElevation, 0, 180);
}

void Antenna::GoToAzimuth(int bearing) {
  int target = Clamp(bearing, minAzimuth, maxAzimuth);
  if (target != bearing) BoxLog::Trace("azimuth " + std::to_string(bearing) + " is out of range, using " + std::to_string(target));
  azimuth.target = target;
  azimuth.moving = azimuth.position != target;
  BoxLog::Trace("azimuth " + Degrees(azimuth.position) + " -> " + Degrees(target));
}

void Antenna::GoToElevation(int value) {
  int target = Clamp(value, 0, 180);
  elevation.target = target;
  elevation.moving = elevation.position != target;
  BoxLog::Trace("elevation " + Degrees(elevation.position) + " -> " + Degrees(target));
}

void Antenna::StopAzimuth() {
  if (azimuth.moving) BoxLog::Trace("azimuth stopped at " + Degrees(azimuth.position));
  azimuth.moving = false;
  azimuth.target = azimuth.position;
}

void Antenna::StopElevation() {
  if (elevation.moving) BoxLog::Trace("elevation stopped at " + Degrees(elevation.position));
  elevation.moving = false;
  elevation.target = elevation.position;
}

void Antenna::Stop() {
  StopAzimuth();
  StopElevation();
}

bool Antenna::Step(Axis& axis, double degrees) {
  if (!axis.moving) return false;
  double distance = axis.target - axis.position;
  if (std::fabs(distance) <= degrees) {
    axis.position = axis.target;
    axis.moving = false;
    return true;
  }
  axis.position += distance > 0 ? degrees : -degrees;
  return false;
}

void Antenna::Advance(double seconds) {
  if (seconds <= 0) return;
  double degrees = speed * seconds;
  if (Step(azimuth, degrees)) BoxLog::Trace("azimuth reached " + Degrees(azimuth.position));
  if (Step(elevation, degrees)) BoxLog::Trace("elevation reached " + Degrees(elevation.position));
}

int Antenna::Azimuth() const { return Round(azimuth.position); }

int Antenna::Elevation() const { return Round(elevation.position); }

bool Antenna::Moving() const { return azimuth.moving || elevation.moving; }

bool Antenna::AzimuthMoving() const { return azimuth.moving; }
