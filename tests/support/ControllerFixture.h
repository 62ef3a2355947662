// The daemon's controller in-process, as main runs it: a RotatorController
// listening on TCP port 13020 (tests using this fixture must be registered
// with PORT), published in g_controller, with one TcpClient connected. The
// log is captured for the whole test. Rotators configured through the client
// report status lines to the log and direction lines to the client.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/RotatorController.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TcpClient.h"

namespace testing_support {

class ControllerFixture : public ::testing::Test {
 protected:
  // Fails when port 13020 stays taken for 10 s (other test runs on this
  // machine may hold it for a moment).
  void SetUp() override;
  // Stops and destroys the controller (g_controller is null afterwards).
  void TearDown() override;

  // Connects `c` and waits until the server has taken it over.
  ::testing::AssertionResult Connect(TcpClient& c);

  LogCapture log;  // first: outlives the controller and its threads
  std::unique_ptr<RotatorController> controller;
  TcpClient client;
};

}  // namespace testing_support
