#include "core/BoxScale.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

// The daemon's CONFIGURE numbers of the two models whose spans are not 0..360.
constexpr int kYaesu = 4;
constexpr int kSpid = 5;

// Wide enough for any difference of two ints: the daemon passes on whatever
// number a box's reply makes.
int Mod360(long long value) { return static_cast<int>((value % 360 + 360) % 360); }

}  // namespace

BoxScale::BoxScale(int model, int minAz, int maxAz) : minAz(minAz), maxAz(maxAz) {
  if (model == kYaesu) {
    high = 450;
    places = true;
  } else if (model == kSpid) {
    low = -180;
    high = 540;
  }
}

int BoxScale::ToBox(int bearing) const {
  // Every span is at least a turn wide: the fewest whole turns bring any
  // bearing into it.
  int number = bearing;
  while (number < low) number += 360;
  while (number > high) number -= 360;
  return number;
}

int BoxScale::ToBearing(int number, const Context& context) const {
  // The bearings in the range that point where the number does (at most
  // three: a range is at most two turns wide).
  const int first = minAz + Mod360(static_cast<long long>(number) - minAz);
  if (first > maxAz) {
    const int below = first - 360;
    return minAz - below <= first - maxAz ? below : first;
  }
  std::vector<int> candidates;
  for (int bearing = first; bearing <= maxAz; bearing += 360) candidates.push_back(bearing);
  auto has = [&candidates](int bearing) {
    return std::find(candidates.begin(), candidates.end(), bearing) != candidates.end();
  };
  if (places) {
    // A GS-232's number is a place, which the bearings sent as that number
    // all name: the last target's form if it is that place, else the box's
    // own (as rotctld tells it).
    if (context.turned && ToBox(context.to) == number && has(context.to)) return context.to;
    if (has(number)) return number;
  } else if (context.turned) {
    // A report says only the direction: the antenna is somewhere between
    // where the last turn started and its end.
    const int from = std::min(context.from, context.to), to = std::max(context.from, context.to);
    std::vector<int> within;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(within),
                 [&](int bearing) { return bearing >= from && bearing <= to; });
    if (!within.empty()) candidates.swap(within);
  }
  // Else the one nearest the position before.
  const long long reference = context.known ? context.previous : context.turned ? context.to : number;
  int best = candidates.front();
  for (int bearing : candidates) {
    if (std::llabs(bearing - reference) < std::llabs(best - reference)) best = bearing;
  }
  return best;
}

long long BoxScale::Distance(int a, int b) const {
  const long long apart = std::llabs(static_cast<long long>(a) - b);
  return places ? apart : std::min(apart % 360, 360 - apart % 360);
}
