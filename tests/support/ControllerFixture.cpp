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
  if (!c.Connect(13020, 5000)) return ::testing::AssertionFailure() << "cannot connect";
  // The server logs "Connected to" before it takes the socket as its
  // client; a reply on this socket shows that it has.
  return Sync(c);
}

::testing::AssertionResult ControllerFixture::Sync(TcpClient& c) {
  if (c.Command("VERSION") && c.WaitForLine("VERSION 2.0.1", 5000))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no reply to VERSION";
}

}  // namespace testing_support
