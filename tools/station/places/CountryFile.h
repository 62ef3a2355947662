// The radio amateurs' country file, cty.dat (AD1C's, which loggers and
// cluster programs read): every DXCC entity with its zones, continent, place
// and the prefixes and whole callsigns that belong to it.
//
// Its format, as the file's publisher describes it: a line per entity of
// eight fields, each ended by ':' (name, CQ zone, ITU zone, continent,
// latitude + north, longitude + WEST, hours from UTC + west, primary prefix
// with a '*' in front for entities on the WAE list only), then its prefixes
// separated by ',' over one or more lines, the last ended by ';'. A prefix
// with '=' in front is a whole callsign that must match exactly; after any
// of them, (n) overrides the CQ zone, [n] the ITU zone, <lat/lon> the place,
// {XX} the continent and ~h~ the offset from UTC.
//
// A callsign belongs to the entity of the exact callsign that names it, or
// else of its longest matching prefix; a portable call (DL/PA3XYZ,
// PA3XYZ/P, VP2E/K1ABC) is looked up by its place part.
//
// The file comes from outside: the parser rejects anything out of format
// with the line it found it on, and never reads past the text.
//
// Filled once on the station's thread before anything is served; read-only
// afterwards, when any thread may look up.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "places/Geodesy.h"

struct Country {
  std::string name;       // "Netherlands"
  std::string prefix;     // the primary prefix: "PA", "3D2/c"
  std::string continent;  // AF, AN, AS, EU, NA, OC or SA
  int cqZone = 0;
  int ituZone = 0;
  LatLon where;           // the usual signs: longitude east positive
  double utcOffset = 0;   // hours east of UTC (the file's sign turned)
  bool waeOnly = false;   // on the WAE list only (the file's '*')
};

// What a callsign or prefix found: its entity, and the zones, continent and
// place its alias gives (the entity's own where the alias overrides none).
struct CountryMatch {
  const Country* country = nullptr;
  std::string alias;  // what matched: "PA", "=PA3XYZ"
  std::string continent;
  int cqZone = 0;
  int ituZone = 0;
  LatLon where;
};

class CountryFile {
 public:
  // Reads and parses a file (at most 16 MiB); false with the reason.
  bool Load(const std::string& path, std::string& error);
  // Parses the text of a file; on failure false with "line N: ...", and
  // nothing is kept.
  bool Parse(const std::string& text, std::string& error);

  // The entity of a callsign or prefix (letters in any case).
  bool Lookup(const std::string& callsign, CountryMatch& match) const;
  // The entity of that name, in any case ("japan").
  const Country* ByName(const std::string& name) const;
  const std::vector<Country>& Countries() const { return countries; }
  bool Empty() const { return countries.empty(); }

 private:
  struct Alias {
    size_t country = 0;
    std::string continent;
    int cqZone = 0;
    int ituZone = 0;
    LatLon where;
  };

  bool Find(const std::string& call, CountryMatch& match) const;
  void Fill(const Alias& alias, const std::string& text, CountryMatch& match) const;

  std::vector<Country> countries;
  std::unordered_map<std::string, Alias> calls;     // whole callsigns ("=" aliases)
  std::unordered_map<std::string, Alias> prefixes;
  size_t longestPrefix = 0;
};
