// Keyboard queries and the input devices of the engine window.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "support/engine_fixture.h"

namespace {

using engine_test::ClosedEngineTest;
using engine_test::EngineTest;
using engine_test::kDemoWindowFlags;

constexpr int kSpace = 0x39;
constexpr int kEscape = 0x01;

using KeyDownTest = EngineTest;

TEST_F(KeyDownTest, HeldKeysReadAsDownInEveryCall) {
  EXPECT_EQ(KeyDown(kSpace), 0);
  EXPECT_EQ(KeyDown(-1), 0);
  AutomationSetKey(kSpace, true);
  // Held, not newly pressed: every frame sees it.
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(KeyDown(kSpace), 1) << "frame " << frame;
    EXPECT_EQ(KeyDown(kEscape), 0);
    EXPECT_EQ(KeyDown(-1), 1);
    RenderWorld();
    Flip();
  }
  AutomationSetKey(kEscape, true);
  EXPECT_EQ(KeyDown(kEscape), 1);
  AutomationSetKey(kSpace, false);
  EXPECT_EQ(KeyDown(kSpace), 0);
  EXPECT_EQ(KeyDown(-1), 1);
  AutomationSetKey(kEscape, false);
  EXPECT_EQ(KeyDown(kEscape), 0);
  EXPECT_EQ(KeyDown(-1), 0);
}

TEST_F(KeyDownTest, HighestScanCodeIsReadToo) {
  AutomationSetKey(0xD3, true);  // DIK_DELETE, near the top of the table
  EXPECT_EQ(KeyDown(0xD3), 1);
  EXPECT_EQ(KeyDown(-1), 1);
  EXPECT_EQ(KeyDown(255), 0);
}

TEST_F(KeyDownTest, KeysOutsideTheTableAreNotDown) {
  AutomationSetKey(kSpace, true);
  ASSERT_EQ(KeyDown(kSpace), 1);
  // The fields around the keyboard table hold non-zero bytes, so a read outside it would show.
  std::memset(&Engine.MouseState, 0xFF, sizeof(Engine.MouseState));
  EXPECT_EQ(KeyDown(256), 0);
  EXPECT_EQ(KeyDown(257), 0);
  EXPECT_EQ(KeyDown(-2), 0);
  EXPECT_EQ(KeyDown(INT_MAX), 0);
  EXPECT_EQ(KeyDown(INT_MIN), 0);
}

TEST_F(KeyDownTest, ReopeningTheKeyboardReplacesTheDevice) {
  EXPECT_EQ(OpenKeyboard(Engine.WindowHandle, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), 1);
  ASSERT_NE(Engine.KeyboardDevice, nullptr);
  AutomationSetKey(kSpace, true);
  EXPECT_EQ(KeyDown(kSpace), 1);
}

TEST_F(KeyDownTest, FailedKeyboardLeavesNoDevice) {
  AutomationSetFault(AutomationFault::KeyboardDevice, true);
  EXPECT_EQ(OpenKeyboard(Engine.WindowHandle, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), 5);
  EXPECT_EQ(Engine.KeyboardDevice, nullptr);
  AutomationSetKey(kSpace, true);
  EXPECT_EQ(KeyDown(kSpace), 0);
  EXPECT_EQ(KeyDown(-1), 0);
}

using NoKeyboardTest = ClosedEngineTest;

TEST_F(NoKeyboardTest, EveryKeyReadsUpWithoutAKeyboard) {
  AutomationSetFault(AutomationFault::KeyboardDevice, true);
  ASSERT_EQ(OpenScreen(0, 0, 640, 640, "no keyboard", kDemoWindowFlags), 1);
  ASSERT_EQ(Engine.KeyboardDevice, nullptr);
  AutomationSetKey(kSpace, true);
  AutomationSetKey(kEscape, true);
  EXPECT_EQ(KeyDown(kSpace), 0);
  EXPECT_EQ(KeyDown(kEscape), 0);
  EXPECT_EQ(KeyDown(-1), 0);
}

TEST_F(NoKeyboardTest, BeforeOpenScreenKeysReadUp) {
  AutomationSetKey(kSpace, true);
  EXPECT_EQ(KeyDown(kSpace), 0);
  EXPECT_EQ(KeyDown(-1), 0);
  EXPECT_EQ(PollMouse(), 0);
  EXPECT_EQ(PollJoystick(), 0);
  EXPECT_EQ(OpenKeyboard(nullptr, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), 5);
}

using PointingDeviceTest = EngineTest;

TEST_F(PointingDeviceTest, MousePollsAndAMissingJoystickDoesNot) {
  EXPECT_EQ(PollMouse(), 1);
  if (Engine.JoystickDevice == nullptr) {
    EXPECT_EQ(PollJoystick(), 0);
  } else {
    EXPECT_EQ(PollJoystick(), 1);
  }
  AutomationSetFault(AutomationFault::MouseDevice, true);
  EXPECT_EQ(OpenMouse(Engine.WindowHandle, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), 5);
  EXPECT_EQ(Engine.MouseDevice, nullptr);
  EXPECT_EQ(PollMouse(), 0);
  // Flip skips the missing devices.
  EXPECT_EQ(Flip(), 0);
}

TEST_F(PointingDeviceTest, JoystickFaultLeavesItAbsent) {
  AutomationSetFault(AutomationFault::JoystickDevice, true);
  EXPECT_EQ(OpenJoystick(Engine.WindowHandle, DISCL_EXCLUSIVE | DISCL_BACKGROUND), 5);
  EXPECT_EQ(Engine.JoystickDevice, nullptr);
  EXPECT_EQ(PollJoystick(), 0);
}

}  // namespace
