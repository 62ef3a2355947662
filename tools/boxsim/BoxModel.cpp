#include "BoxModel.h"

#include <cctype>

#include "DcuBox.h"
#include "ProsistelBox.h"
#include "Rc2800PaBox.h"
#include "Rc2800PxBox.h"
#include "SpidBox.h"
#include "YaesuBox.h"

const std::vector<BoxModel::Info>& BoxModel::Models() {
  static const std::vector<Info> models = {
      {1, "dcu1", "DCU-1", 4800},          {2, "rotorez", "Rotor-EZ", 4800},
      {4, "yaesu", "Yaesu GS-232", 9600},  {5, "spid", "Alfa SPID", 1200},
      {8, "rc2800pa", "RC2800 PA", 9600},  {9, "rc2800px", "RC2800 PX", 9600},
      {12, "prosistel", "Prosistel D", 9600},
  };
  return models;
}

const BoxModel::Info* BoxModel::Find(const std::string& nameOrNumber) {
  std::string lower;
  for (char c : nameOrNumber) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  bool numeric = !lower.empty() && lower.find_first_not_of("0123456789") == std::string::npos;
  for (const Info& info : Models()) {
    if (numeric ? std::to_string(info.number) == lower : lower == info.name) return &info;
  }
  return nullptr;
}

std::unique_ptr<BoxModel> BoxModel::Create(int number, Antenna& antenna) {
  switch (number) {
    case 1: return std::make_unique<DcuBox>(antenna, false);
    case 2: return std::make_unique<DcuBox>(antenna, true);
    case 4: return std::make_unique<YaesuBox>(antenna);
    case 5: return std::make_unique<SpidBox>(antenna);
    case 8: return std::make_unique<Rc2800PaBox>(antenna);
    case 9: return std::make_unique<Rc2800PxBox>(antenna);
    case 12: return std::make_unique<ProsistelBox>(antenna);
    default: return nullptr;
  }
}

void BoxModel::Tick(double, std::vector<std::string>&) {}

bool BoxModel::TakeFreshStart() {
  bool value = freshStart;
  freshStart = false;
  return value;
}
