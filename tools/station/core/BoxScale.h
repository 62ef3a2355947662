// Where a rotator's range meets its box's own numbers. Clients speak in the
// rotator's range (--rotator ...:MIN..MAX: 0..360, 0..450 for an overlap,
// -180..180 for a south stop); the daemon passes numbers to the box and back
// unchanged, so every turn the station sends and every bearing it reads is
// mapped here, in one place, both ways.
//
// Every model's box counts in compass degrees (0 north, 90 east), each over
// a span of its own, which is what the daemon's drivers write and read:
//   DCU-1, Rotor-EZ   0..360  "AP1nnn;" (Rotor-EZ reports ;nnn, 0..359)
//   Yaesu GS-232      0..450  "Mnnn", reports AZ=nnn: no negative form; a
//                             number is a place along its span (0 and 360
//                             are one turn apart)
//   Alfa SPID         -180..540  the frame carries bearing + 360; the
//                             daemon reports the bearing modulo 360
//   RC2800 PA and PX  0..360  "nnn", "Annn"; reports A=nnn
//   Prosistel D       0..360  "AGnnn" (977 is its stop); reports ,?,nnn,
// (rotctld's backends for these boxes claim the same spans.) A bearing in
// the box's span is sent as it is (380 stays M380 on a GS-232, -90 is -90 to
// a SPID); one outside it goes whole turns away, as rotctld's GS-232B
// backend does (-90 is M270, -180 is M180). A number the box reports becomes
// the bearing in the range that means the same place. Where the range holds
// several: for a GS-232 they name one place (270 is -90 or 270 on
// -180..450), told in the last target's form if that is the place, else as
// the box's own number; for the others, whose reports say only the
// direction (a SPID's 30 is 30 or 390 on 0..450), the one within the last
// turn's span, then the one nearest the position before.
//
// A value type: immutable after construction, safe to use from any thread.
#pragma once

class BoxScale {
 public:
  BoxScale(int model, int minAz, int maxAz);

  // The box number that turns the rotator to `bearing` (within the range).
  int ToBox(int bearing) const;

  // What is known when a report comes: the last turn sent (from where, to
  // where, in the range), and the position before.
  struct Context {
    bool turned = false;
    int from = 0, to = 0;
    bool known = false;
    int previous = 0;
  };
  // The bearing in the range that a number the box reported means; one
  // outside the range (a hand turn past an end) is told as the bearing
  // nearest the range.
  int ToBearing(int number, const Context& context) const;

  // How far the box would turn between two of its numbers: along its span
  // for a GS-232, the shorter way round for the others, whose reports say
  // only the direction.
  long long Distance(int a, int b) const;

 private:
  const int minAz, maxAz;   // the rotator's range
  int low = 0, high = 360;  // the box's span
  bool places = false;      // its reports are places along its span (GS-232)
};
