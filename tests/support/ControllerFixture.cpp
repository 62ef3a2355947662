#include "tests/support/ControllerFixture.h"

#include "tests/support/Time.h"

namespace testing_support {

void ControllerFixture::SetUp() {
  ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000))
      << "TCP port 13020 is in use by another process";
  controller.reset(new RotatorController());
  g_controller = controller.get();
  ASSERT_TRUE(controller->Start()) << "the controller did not start";
  ASSERT_TRUE(Connect(client));
}

void ControllerFixture::TearDown() {
  if (controller) controller->Stop();
  g_controller = nullptr;
  controller.reset();
  client.Close();
}

::testing::AssertionResult ControllerFixture::Connect(TcpClient& c) {
  const std::string connected = "Connected to 127.0.0.1";
  size_t before = log.CountOut(connected);
  if (!c.Connect(13020, 5000))
    return ::testing::AssertionFailure() << "cannot connect to port 13020";
  if (!log.WaitForOut(connected, 5000, before + 1))
    return ::testing::AssertionFailure()
           << "the server did not take the new client over";
  // The server logs "Connected to" before it takes the socket as its
  // client; a reply on this socket shows that it has.
  if (!c.Command("VERSION") || !c.WaitForLine("VERSION 2.0.1", 5000))
    return ::testing::AssertionFailure()
           << "the new client got no reply to VERSION";
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
