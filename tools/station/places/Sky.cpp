#include "places/Sky.h"

#include <libnova/julian_day.h>
#include <libnova/lunar.h>
#include <libnova/parallax.h>
#include <libnova/precession.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

#include <cctype>
#include <mutex>

namespace {

std::mutex g_libnova;

// The julian day of a moment (1970-01-01 00:00 UTC is JD 2440587.5).
double JulianDay(std::chrono::system_clock::time_point when) {
  const double seconds = std::chrono::duration<double>(when.time_since_epoch()).count();
  return 2440587.5 + seconds / 86400.0;
}

// The moon's series cut at this precision: 60 microseconds instead of 1.3
// ms, a few thousandths of a degree from the whole.
constexpr double kLunarPrecision = 1e-5;
constexpr double kKmPerAu = 149597870.7;

}  // namespace

SkyPosition Locate(Body body, const LatLon& station, std::chrono::system_clock::time_point when) {
  const double jd = JulianDay(when);
  ln_lnlat_posn observer{station.longitude, station.latitude};  // libnova: east positive
  ln_equ_posn j2000{}, ofDate{};
  ln_hrz_posn horizon{};
  std::lock_guard<std::mutex> lock(g_libnova);
  // Both series give places for the J2000 equinox: precessed to the day's,
  // which the local sidereal time refers to (a third of a degree in 2026).
  if (body == Body::Sun) {
    ln_get_solar_equ_coords(jd, &j2000);
    ln_get_equ_prec(&j2000, jd, &ofDate);
  } else {
    ln_get_lunar_equ_coords_prec(jd, &j2000, kLunarPrecision);
    ln_get_equ_prec(&j2000, jd, &ofDate);
    ln_equ_posn shift{};
    ln_get_parallax(&ofDate, ln_get_lunar_earth_dist(jd) / kKmPerAu, &observer, 0, jd, &shift);
    ofDate.ra += shift.ra;
    ofDate.dec += shift.dec;
  }
  ln_get_hrz_from_equ(&ofDate, &observer, jd, &horizon);
  // libnova counts azimuth from the south.
  return {NormalAzimuth(horizon.az + 180), horizon.alt};
}

const char* BodyName(Body body) { return body == Body::Sun ? "sun" : "moon"; }

bool BodyFromName(const std::string& name, Body& body) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (lower == "sun") body = Body::Sun;
  else if (lower == "moon") body = Body::Moon;
  else return false;
  return true;
}
