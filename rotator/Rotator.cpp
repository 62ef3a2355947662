#include "rotator/Rotator.h"

#include <cstdio>
#include <cstring>

#include "app/RotatorController.h"
#include "common/Common.h"

Rotator::~Rotator() { Release(); }

void Rotator::Release() {
  // Both threads are ended before either pointer changes: the threads read
  // the pointers (a poll writes through `serial`), so the pointers must stay
  // put until nothing else runs. The link is closed first: a poll the timer
  // is writing to a device that takes no bytes then gives up at once instead
  // of holding the release for its write timeout, and later polls are not
  // sent.
  if (serial) serial->Close();   // no DoSerial after this
  if (timer) timer->Shutdown();  // no DoTimer after this
  timer.reset();
  serial.reset();
}

bool Rotator::Initialize(int rotatorId, const std::string& devicePath,
                         int /*type*/, int pollPeriod) {
  port = devicePath;
  pollInterval = pollPeriod;
  id = rotatorId;

  serial.reset(new Serial());
  if (!serial->Open(port, baudRate, dataBits, stopBits,
                    [this](const SerialEvent& event) { OnSerial(event); })) {
    serial.reset();
    return false;
  }

  timer.reset(new RotatorTimer([this] { OnTimer(); }));

  if (DoInitialize()) {
    char text[256];
    snprintf(text, sizeof text, "%s created", port.c_str());
    ShowStatus(text);
    return true;
  }
  serial->Close();
  timer->Shutdown();
  serial.reset();
  timer.reset();
  return false;
}

void Rotator::Rotate(int bearing) {
  char text[256];
  snprintf(text, sizeof text, "%s rotate to %d", port.c_str(), bearing);
  ShowStatus(text);
  DoRotate(bearing);
}

void Rotator::Stop() {
  char text[256];
  snprintf(text, sizeof text, "%s stop", port.c_str());
  ShowStatus(text);
  DoStop();
}

void Rotator::OnTimer() { DoTimer(); }

void Rotator::OnSerial(const SerialEvent& event) {
  switch (event.type) {
    case SerialEvent::Data:
      DoSerial(event.data);
      break;
    case SerialEvent::Error: {
      char text[256];
      snprintf(text, sizeof text, "Error getting status for %s", port.c_str());
      // During Initialize the link is still being opened and `serial` is
      // set, so the open failure is reported here too.
      if (serial) serial->LogError(text, event.error);
      break;
    }
    default:
      break;
  }
}

void Rotator::ShowStatus(const std::string& text) {
  if (g_controller) {
    g_controller->ShowStatus(text);
  } else {
    LogMessage("Status: %s", text.c_str());
  }
}

void Rotator::Direction(int bearing) {
  if (bearing == lastDirection) return;
  if (g_controller) {
    char line[32];
    snprintf(line, sizeof line, "%d %03d\r", id, bearing);
    g_controller->TcpWrite(line);
  }
  lastDirection = bearing;
}

void Rotator::Write(const std::string& data) {
  if (serial) serial->Write(data);
}

void Rotator::Write(const char* text) {
  Write(text, static_cast<int>(strlen(text)));
}

void Rotator::Write(const char* data, int length) {
  if (serial) serial->Write(data, length);
}

void Rotator::Bad(const std::string& response) {
  // Built by concatenation: the reply may hold a NUL, and the log lines then
  // end where "%s" stops, right after the reply's opening quote.
  std::string text =
      response.empty()
          ? "Bad response from rotator on " + port
          : "Bad response \"" + response + "\" from rotator on " + port;
  if (text.size() > 255) text.resize(255);  // as the other status texts
  ShowStatus(text);
  if (!badReported) {
    ::LogError("%s", text.c_str());
    badReported = true;
  }
}

void Rotator::Bad(char c) { Bad(std::string(1, c)); }

bool Rotator::GatherReplyLine(std::string& line, char c) {
  constexpr size_t kMaxLine = 20;
  if (c == '\n') return false;
  if (c == '\r') return true;
  line.push_back(c);
  if (line.size() > kMaxLine) {
    Bad(line);
    line.clear();
  }
  return false;
}

bool Rotator::DoInitialize() {
  LogMessage("Rotor type is not implemented");
  return false;
}

void Rotator::DoRotate(int) {}
void Rotator::DoStop() {}
void Rotator::DoTimer() {}
void Rotator::DoSerial(char) {}
