#include "drivers/Rotator_AlfaSpid.h"

#include <cstdint>

namespace {
constexpr char kSetPosition = 0x2F;
constexpr char kStop = 0x0F;
constexpr char kStatus = 0x1F;
}  // namespace

Rotator_AlfaSpid::Rotator_AlfaSpid() {
  baudRate = 1200;
}

Rotator_AlfaSpid::~Rotator_AlfaSpid() { Release(); }

bool Rotator_AlfaSpid::DoInitialize() {
  if (timer) timer->Start(pollInterval, false);
  return true;
}

void Rotator_AlfaSpid::SendFrame(char digit1, char digit2, char digit3,
                                 char command) {
  const char frame[13] = {'W',  digit1, digit2, digit3, 0, 0,  0,
                          0,    0,      0,      0,      command, 0x20};
  Write(frame, sizeof frame);
}

// The azimuth travels as bearing + 360 in three ASCII digits. Outside
// -360..639 the bytes leave the digit range; the sum wraps in 32 bits
// instead of overflowing.
void Rotator_AlfaSpid::DoRotate(int bearing) {
  const int32_t v =
      static_cast<int32_t>(static_cast<uint32_t>(bearing) + 360u);
  SendFrame(static_cast<char>(0x30 + v / 100),
            static_cast<char>(0x30 + (v % 100) / 10),
            static_cast<char>(0x30 + v % 10), kSetPosition);
}

void Rotator_AlfaSpid::DoStop() { SendFrame(0, 0, 0, kStop); }

void Rotator_AlfaSpid::DoTimer() { SendFrame(0, 0, 0, kStatus); }

// The reply parser groups bytes by counting only: it does not hunt for the
// "W" that starts a frame, so one stray byte shifts the grouping until the
// stream lines up again. Every fifth byte judges the group: a good frame
// reports its azimuth modulo 360, a bad one reports the four stored bytes.
void Rotator_AlfaSpid::DoSerial(char c) {
  if (replyLength < 4) {
    reply[replyLength++] = c;
    return;
  }
  replyLength = 0;
  auto isDigit = [](char b) { return b >= '0' && b <= '9'; };
  if (reply[0] == 'W' && isDigit(reply[1]) && isDigit(reply[2]) &&
      isDigit(reply[3]) && c == 0x20) {
    const int n = 100 * (reply[1] - '0') + 10 * (reply[2] - '0') +
                  (reply[3] - '0');
    Direction(n % 360);
    return;
  }
  reply[4] = 0;
  Bad(std::string(reply));  // up to the first NUL: at most four bytes
}
