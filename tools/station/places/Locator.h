// Maidenhead locators (the grid squares radio amateurs give their place
// in): a field of two letters A-R (20 by 10 degrees), a square of two digits
// (2 by 1 degree), a subsquare of two letters A-X (5 by 2.5 minutes), an
// extended square of two digits (30 by 15 seconds) and its subsquare of two
// letters A-X: 4, 6, 8 or 10 characters, longitude first in each pair.
//
// Plain functions without state; any thread may call them.
#pragma once

#include <string>

#include "places/Geodesy.h"

// The centre of the square a locator names (any case); false when the text
// is not a locator of 4, 6, 8 or 10 characters.
bool LocatorCentre(const std::string& locator, LatLon& centre);

// The locator of `chars` characters (4, 6, 8 or 10) of the square holding
// the point, subsquare letters in lower case ("JO22ob").
std::string LocatorOf(const LatLon& point, int chars = 6);
