#include "drivers/Rotator_DCU1.h"

#include <cstdio>

Rotator_DCU1::Rotator_DCU1() {
  baudRate = 4800;
}

Rotator_DCU1::~Rotator_DCU1() { Release(); }

bool Rotator_DCU1::DoInitialize() { return true; }

void Rotator_DCU1::DoRotate(int bearing) {
  char command[16];
  snprintf(command, sizeof command, "AP1%03d;", bearing);
  Write(command);
  // A second turn within 200 ms keeps the running wait: one execute only.
  if (timer) timer->Start(200, true);
}

void Rotator_DCU1::DoTimer() { Write("AM1;"); }
