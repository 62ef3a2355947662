// RotatorMgr is the registry of configured rotators and the interpreter of
// the client's command language: CONFIGURE, ROTATE, STOP and VERSION. It
// creates rotators by model number (the model table lives in RotatorMgr.cpp),
// finds them by rotator number, and destroys all of them when the client goes
// away or the daemon stops.
//
// Ownership: the controller owns the registry; the registry owns every
// rotator, in configuration order.
//
// Threads: Parse runs on the client reader thread only. Cleanup runs on that
// thread (client lost) or on the stopping thread after the reader has been
// joined. So the registry needs no lock; rotators' own threads never touch it.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Rotator;

class RotatorMgr {
 public:
  RotatorMgr();
  ~RotatorMgr();
  RotatorMgr(const RotatorMgr&) = delete;
  RotatorMgr& operator=(const RotatorMgr&) = delete;

  void Parse(const std::string& line);
  // Destroys every rotator, the last configured first.
  void Cleanup();

  size_t Count() const { return rotators.size(); }

  // Makes the object for a model number 0..12: a driver, or the plain base
  // for numbers without one. Null for numbers outside the table.
  static std::unique_ptr<Rotator> Create(int model);

 private:
  Rotator* Find(int id) const;

  std::vector<std::unique_ptr<Rotator>> rotators;
};
