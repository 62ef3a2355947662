#include "places/CountryFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr size_t kMaxFileBytes = 16 << 20;

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// A whole field as a number within [low, high].
bool ToNumber(const std::string& field, double low, double high, double& value) {
  const std::string text = Trim(field);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = strtod(text.c_str(), &end);
  return *end == '\0' && errno == 0 && std::isfinite(value) && value >= low && value <= high;
}

bool ToZone(const std::string& field, int& zone) {
  double value = 0;
  if (!ToNumber(field, 0, 99, value) || value != std::floor(value)) return false;
  zone = static_cast<int>(value);
  return true;
}

bool IsContinent(const std::string& text) {
  static const char* const kContinents[] = {"AF", "AN", "AS", "EU", "NA", "OC", "SA"};
  return std::any_of(std::begin(kContinents), std::end(kContinents),
                     [&](const char* known) { return text == known; });
}

// The file's place: latitude + north, longitude + west.
bool ToPlace(const std::string& latitude, const std::string& westLongitude, LatLon& where) {
  double west = 0;
  if (!ToNumber(latitude, -90, 90, where.latitude) || !ToNumber(westLongitude, -180, 180, west)) {
    return false;
  }
  where.longitude = west == 0 ? 0 : -west;
  return true;
}

bool IsCallChar(char c) {
  return isupper(static_cast<unsigned char>(c)) || isdigit(static_cast<unsigned char>(c)) || c == '/';
}

// Parts of a portable call that say nothing of where the station is.
bool IsPlainSuffix(const std::string& part) {
  static const char* const kSuffixes[] = {"P", "M", "A", "QRP", "LH", "J", "R"};
  if (!part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return isdigit(static_cast<unsigned char>(c)); })) {
    return true;  // a call area: K1ABC/4 stays in its country
  }
  return std::any_of(std::begin(kSuffixes), std::end(kSuffixes),
                     [&](const char* known) { return part == known; });
}

}  // namespace

bool CountryFile::Load(const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the country file " + path;
    return false;
  }
  std::string text;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileBytes) {
      error = "the country file " + path + " is over 16 MiB: not a cty.dat";
      return false;
    }
  }
  if (!Parse(text, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool CountryFile::Parse(const std::string& text, std::string& error) {
  std::vector<Country> found;
  std::unordered_map<std::string, Alias> foundCalls, foundPrefixes;
  size_t longest = 0;
  size_t pos = 0;
  int line = 1;
  auto fail = [&](int at, const std::string& what) {
    error = "line " + std::to_string(at) + ": " + what;
    return false;
  };
  for (;;) {
    while (pos < text.size() && isspace(static_cast<unsigned char>(text[pos]))) {
      if (text[pos++] == '\n') ++line;
    }
    if (pos >= text.size()) break;

    // The entity's line: eight fields, each ended by ':'.
    std::string fields[8];
    for (std::string& field : fields) {
      size_t colon = text.find_first_of(":\n", pos);
      if (colon == std::string::npos || text[colon] != ':') {
        return fail(line, "an entity's line needs eight fields, each ended by ':'");
      }
      field = Trim(text.substr(pos, colon - pos));
      pos = colon + 1;
    }
    Country country;
    country.name = fields[0];
    country.continent = fields[3];
    country.waeOnly = !fields[7].empty() && fields[7][0] == '*';
    country.prefix = fields[7].substr(country.waeOnly ? 1 : 0);
    double westOffset = 0;
    if (country.name.empty()) return fail(line, "an entity without a name");
    if (!ToZone(fields[1], country.cqZone) || !ToZone(fields[2], country.ituZone)) {
      return fail(line, country.name + ": zones must be whole numbers");
    }
    if (!IsContinent(country.continent)) return fail(line, country.name + ": unknown continent '" + country.continent + "'");
    if (!ToPlace(fields[4], fields[5], country.where)) {
      return fail(line, country.name + ": latitude and longitude must be degrees");
    }
    if (!ToNumber(fields[6], -24, 24, westOffset)) return fail(line, country.name + ": bad offset from UTC");
    country.utcOffset = westOffset == 0 ? 0 : -westOffset;
    if (country.prefix.empty()) return fail(line, country.name + ": no primary prefix");

    // Its aliases, up to ';'.
    const int headerLine = line;
    size_t end = text.find(';', pos);
    if (end == std::string::npos) return fail(headerLine, country.name + ": the prefixes do not end with ';'");
    const size_t index = found.size();
    for (size_t at = pos; at < end;) {
      size_t comma = std::min(text.find(',', at), end);
      const std::string item = Trim(text.substr(at, comma - at));
      line += static_cast<int>(std::count(text.begin() + at, text.begin() + comma, '\n'));
      at = comma + 1;
      if (item.empty()) continue;
      Alias alias{index, country.continent, country.cqZone, country.ituZone, country.where};
      size_t i = item[0] == '=' ? 1 : 0;
      size_t nameEnd = i;
      while (nameEnd < item.size() && IsCallChar(item[nameEnd])) ++nameEnd;
      const std::string name = item.substr(i, nameEnd - i);
      if (name.empty()) return fail(line, country.name + ": '" + item + "' is not a prefix");
      for (i = nameEnd; i < item.size();) {
        static const std::string kOpen = "([<{~", kClose = ")]>}~";
        const size_t kind = kOpen.find(item[i]);
        const size_t close = kind == std::string::npos ? std::string::npos : item.find(kClose[kind], i + 1);
        if (close == std::string::npos) return fail(line, country.name + ": '" + item + "' is not a prefix");
        const std::string value = item.substr(i + 1, close - i - 1);
        i = close + 1;
        bool good = true;
        double ignored = 0;
        switch (kind) {
          case 0: good = ToZone(value, alias.cqZone); break;
          case 1: good = ToZone(value, alias.ituZone); break;
          case 2: {
            size_t slash = value.find('/');
            good = slash != std::string::npos &&
                   ToPlace(value.substr(0, slash), value.substr(slash + 1), alias.where);
            break;
          }
          case 3: alias.continent = value; good = IsContinent(value); break;
          default: good = ToNumber(value, -24, 24, ignored); break;
        }
        if (!good) return fail(line, country.name + ": bad override in '" + item + "'");
      }
      if (item[0] == '=') {
        foundCalls[name] = alias;
      } else {
        foundPrefixes[name] = alias;
        longest = std::max(longest, name.size());
      }
    }
    pos = end + 1;
    found.push_back(country);
  }
  if (found.empty()) return fail(line, "no entity in the file");
  countries.swap(found);
  calls.swap(foundCalls);
  prefixes.swap(foundPrefixes);
  longestPrefix = longest;
  return true;
}

void CountryFile::Fill(const Alias& alias, const std::string& text, CountryMatch& match) const {
  match.country = &countries[alias.country];
  match.alias = text;
  match.continent = alias.continent;
  match.cqZone = alias.cqZone;
  match.ituZone = alias.ituZone;
  match.where = alias.where;
}

// A call without the portable rules: exactly, or by its longest prefix.
bool CountryFile::Find(const std::string& call, CountryMatch& match) const {
  auto exact = calls.find(call);
  if (exact != calls.end()) {
    Fill(exact->second, "=" + call, match);
    return true;
  }
  for (size_t length = std::min(call.size(), longestPrefix); length > 0; --length) {
    auto prefix = prefixes.find(call.substr(0, length));
    if (prefix != prefixes.end()) {
      Fill(prefix->second, prefix->first, match);
      return true;
    }
  }
  return false;
}

bool CountryFile::Lookup(const std::string& callsign, CountryMatch& match) const {
  const std::string call = Upper(Trim(callsign));
  if (call.empty()) return false;
  if (calls.count(call) != 0 || call.find('/') == std::string::npos) return Find(call, match);
  // A portable call: its parts that tell a place; of two, the shorter is
  // the prefix of where the station is (DL/PA3XYZ, PA3XYZ/KH6).
  std::vector<std::string> parts;
  std::stringstream stream(call);
  for (std::string part; std::getline(stream, part, '/');) {
    if (!part.empty() && !IsPlainSuffix(part)) parts.push_back(part);
  }
  if (parts.empty()) return false;
  const std::string& place = parts.size() == 1 || parts[0].size() <= parts[1].size() ? parts[0] : parts[1];
  return Find(place, match);
}

const Country* CountryFile::ByName(const std::string& name) const {
  const std::string wanted = Upper(Trim(name));
  for (const Country& country : countries) {
    if (Upper(country.name) == wanted) return &country;
  }
  return nullptr;
}
