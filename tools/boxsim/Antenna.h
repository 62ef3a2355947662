// The emulated antenna: an azimuth axis and an elevation axis that turn
// toward their targets at a fixed speed in degrees per second, like a real
// rotator. The azimuth runs between two end stops, in the box's own numbers
// (0..359 by default, its stop at north; 0..450 for an overlap rotator); it
// turns straight from number to number and never across a stop, so on
// 0..359 350 -> 10 turns the long way round through 180. Targets outside the
// mechanical range are clamped (elevation 0..180).
#pragma once

class Antenna {
 public:
  Antenna(double degreesPerSecond, int startAzimuth, int startElevation, int minAzimuth = 0,
          int maxAzimuth = 359);

  // Starts turning toward a new target (clamped into the range).
  void GoToAzimuth(int bearing);
  void GoToElevation(int elevation);
  // Stops where the axis is now.
  void StopAzimuth();
  void StopElevation();
  void Stop();

  // Moves both axes by the time that has passed.
  void Advance(double seconds);

  // Current position, rounded to whole degrees.
  int Azimuth() const;
  int Elevation() const;
  bool Moving() const;
  bool AzimuthMoving() const;
  double Speed() const { return speed; }

 private:
  struct Axis {
    double position = 0;
    double target = 0;
    bool moving = false;
  };
  static bool Step(Axis& axis, double degrees);

  double speed;
  int minAzimuth, maxAzimuth;
  Axis azimuth;
  Axis elevation;
};
