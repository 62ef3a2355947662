// The emulated antenna: an azimuth axis and an elevation axis that turn
// toward their targets at a fixed speed in degrees per second, like a real
// rotator with its end stop at north. Targets outside the mechanical range
// are clamped (azimuth 0..359, elevation 0..180); the azimuth never crosses
// the end stop, so 350 -> 10 turns the long way round through 180.
#pragma once

class Antenna {
 public:
  Antenna(double degreesPerSecond, int startAzimuth, int startElevation);

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
  Axis azimuth;
  Axis elevation;
};
