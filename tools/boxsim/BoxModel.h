// What every emulated controller box does: take the bytes the daemon wrote,
// answer them, and say things unasked as the antenna moves. One subclass per
// serial protocol; Create() makes the one for a model number of the daemon's
// CONFIGURE command.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Antenna;

class BoxModel {
 public:
  // The models the emulator knows, by CONFIGURE model number.
  struct Info {
    int number;
    const char* name;   // short name for --model, lower case
    const char* title;  // readable name for logs and --help
    int baudRate;       // the line speed of the real box
  };
  static const std::vector<Info>& Models();
  // Accepts a number ("4") or a name ("yaesu", any case). Null when unknown.
  static const Info* Find(const std::string& nameOrNumber);
  // Null for numbers without an emulation.
  static std::unique_ptr<BoxModel> Create(int number, Antenna& antenna);

  explicit BoxModel(Antenna& antenna) : antenna(antenna) {}
  virtual ~BoxModel() = default;
  BoxModel(const BoxModel&) = delete;
  BoxModel& operator=(const BoxModel&) = delete;

  // One byte from the daemon. Complete replies are appended to `replies`,
  // one element per reply, so that faults can be injected between them.
  virtual void Receive(char byte, std::vector<std::string>& replies) = 0;

  // Called every tick after the antenna has moved; `now` is a monotonic
  // time in seconds. Boxes that report unasked append their lines here.
  virtual void Tick(double now, std::vector<std::string>& replies);

  // True once after the daemon has (re)opened the line in a way the box can
  // tell; the emulator then drops what the previous user left unread.
  bool TakeFreshStart();

 protected:
  void MarkFreshStart() { freshStart = true; }

  Antenna& antenna;

 private:
  bool freshStart = false;
};
