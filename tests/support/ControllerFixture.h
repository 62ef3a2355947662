// The daemon's controller in-process, as main runs it: a RotatorController
// listening on TCP port 13020 (tests using this fixture must be registered
// with PORT), published in g_controller, with one TcpClient connected. The
// log is captured for the whole test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/RotatorController.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TcpClient.h"

namespace testing_support {

class ControllerFixture : public ::testing::Test {
 protected:
  void SetUp() override;     // fails when port 13020 stays taken for 10 s
  void TearDown() override;  // stops and destroys the controller

  // Connects `c` and waits until the server serves it.
  ::testing::AssertionResult Connect(TcpClient& c);
  // A VERSION round trip: once the reply is in, every earlier line of `c`
  // has been handled.
  ::testing::AssertionResult Sync(TcpClient& c);

  LogCapture log;  // first: outlives the controller and its threads
  std::unique_ptr<RotatorController> controller;
  TcpClient client;
};

}  // namespace testing_support
