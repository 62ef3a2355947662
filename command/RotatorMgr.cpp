#include "command/RotatorMgr.h"

#include "app/RotatorController.h"
#include "common/Common.h"
#include "drivers/Rotator_AlfaSpid.h"
#include "drivers/Rotator_DCU1.h"
#include "drivers/Rotator_ProsistelD.h"
#include "drivers/Rotator_RC2800PA.h"
#include "drivers/Rotator_RC2800PX.h"
#include "drivers/Rotator_RotorEZ.h"
#include "drivers/Rotator_Yaesu.h"
#include "rotator/Rotator.h"

namespace {

template <typename T>
std::unique_ptr<Rotator> Make() {
  return std::unique_ptr<Rotator>(new T());
}

// The model table: CONFIGURE's model number is the index. Numbers without a
// driver make the plain base, whose initialisation logs "Rotor type is not
// implemented" and fails.
using Factory = std::unique_ptr<Rotator> (*)();
const Factory kModels[] = {
    Make<Rotator>,             // 0
    Make<Rotator_DCU1>,        // 1
    Make<Rotator_RotorEZ>,     // 2
    Make<Rotator>,             // 3
    Make<Rotator_Yaesu>,       // 4
    Make<Rotator_AlfaSpid>,    // 5
    Make<Rotator>,             // 6
    Make<Rotator>,             // 7
    Make<Rotator_RC2800PA>,    // 8
    Make<Rotator_RC2800PX>,    // 9
    Make<Rotator>,             // 10
    Make<Rotator>,             // 11
    Make<Rotator_ProsistelD>,  // 12
};
constexpr unsigned kModelCount = sizeof kModels / sizeof kModels[0];

}  // namespace

RotatorMgr::RotatorMgr() = default;

RotatorMgr::~RotatorMgr() { Cleanup(); }

std::unique_ptr<Rotator> RotatorMgr::Create(int model) {
  if (static_cast<unsigned>(model) >= kModelCount) return nullptr;
  return kModels[model]();
}

Rotator* RotatorMgr::Find(int id) const {
  for (const auto& rotator : rotators)
    if (rotator->Id() == id) return rotator.get();
  return nullptr;
}

void RotatorMgr::Parse(const std::string& line) {
  std::vector<std::string> tokens = Split(line, ' ');
  if (tokens.empty()) return;
  const std::string& keyword = tokens[0];

  if (keyword == "STOP") {
    if (tokens.size() != 2) {
      LogMessage("Bad arguments in command: %s", line.c_str());
      return;
    }
    Rotator* rotator = Find(ReadInt(tokens[1]));
    if (!rotator) {
      LogMessage("Unknown rotator in command: %s", line.c_str());
      return;
    }
    rotator->Stop();
  } else if (keyword == "ROTATE") {
    if (tokens.size() != 3) {
      LogMessage("Bad arguments in command: %s", line.c_str());
      return;
    }
    Rotator* rotator = Find(ReadInt(tokens[1]));
    if (!rotator) {
      LogMessage("Unknown rotator in command: %s", line.c_str());
      return;
    }
    rotator->Rotate(ReadInt(tokens[2]));
  } else if (keyword == "VERSION") {
    if (g_controller)
      g_controller->TcpWrite(std::string("VERSION ") + zeva::kVersion + "\r");
  } else if (keyword == "CONFIGURE") {
    if (tokens.size() != 5) {
      LogMessage("Bad arguments in command: %s", line.c_str());
      return;
    }
    int id = ReadInt(tokens[1]);
    const std::string& port = tokens[2];
    int model = ReadInt(tokens[3]);
    int pollInterval = ReadInt(tokens[4]);
    std::unique_ptr<Rotator> rotator = Create(model);
    if (!rotator) {
      LogMessage("Unknown rotator type %d", model);
      return;
    }
    if (rotator->Initialize(id, port, model, pollInterval))
      rotators.push_back(std::move(rotator));
  } else {
    LogMessage("Unknown command: %s", line.c_str());
  }
}

void RotatorMgr::Cleanup() {
  while (!rotators.empty()) rotators.pop_back();  // last configured first
}
