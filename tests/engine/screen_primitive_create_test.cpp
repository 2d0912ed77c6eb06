// Screen primitives queued through the engine's operations: the commands they queue, rectangles
// cut to the screen, refused radii, what reaches the back buffer, and a closed engine.
#include <gtest/gtest.h>

#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::ClosedEngineTest;
using engine_test::EngineTest;
using engine_test::ReadBackBuffer;

std::vector<ScreenPrimitive> Queued() {
  std::vector<ScreenPrimitive> commands;
  Engine.ScreenPrimitiveQueue.ForEach(
      [&commands](ScreenPrimitive& command) { commands.push_back(command); });
  return commands;
}

class ScreenPrimitiveCreateTest : public EngineTest {
 protected:
  static BackBufferImage Frame() {
    Engine.ClearColour = 0xFF000000;
    RenderWorld();
    BackBufferImage image = ReadBackBuffer();
    Flip();
    return image;
  }
};

TEST_F(ScreenPrimitiveCreateTest, EachOperationQueuesItsCommandInOrder) {
  EXPECT_EQ(QueueScreenPixel(1, 2, 0xFF010203), 1);
  EXPECT_EQ(QueueScreenLine(3, 4, 5, 6, 0xFF040506), 1);
  EXPECT_EQ(QueueScreenCircle(7, 8, 9, 0xFF070809), 1);
  EXPECT_EQ(QueueScreenFilledCircle(10, 11, 12, 0xFF0A0B0C), 1);
  EXPECT_EQ(QueueScreenRectangle(13, 14, 15, 16, 0xFF0D0E0F), 1);
  EXPECT_EQ(QueueScreenFilledRectangle(20, 30, 17, 18, 0xFF101112), 1);
  const std::vector<ScreenPrimitive> q = Queued();
  ASSERT_EQ(q.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(q[i].Kind, i);
  EXPECT_EQ(q[0].X1, 1);
  EXPECT_EQ(q[0].Y1, 2);
  EXPECT_EQ(q[1].Y2, 6);
  EXPECT_EQ(q[2].X2, 9);
  EXPECT_EQ(q[3].Colour, 0xFF0A0B0Cu);
  EXPECT_EQ(q[4].X2, 15);
  // Corners in either order, both included: an exclusive right and bottom for the fill.
  EXPECT_EQ(q[5].X1, 17);
  EXPECT_EQ(q[5].Y1, 18);
  EXPECT_EQ(q[5].X2, 21);
  EXPECT_EQ(q[5].Y2, 31);

  // Refused: a negative radius. Accepted, nothing to queue: a fill wholly off the screen.
  EXPECT_EQ(QueueScreenCircle(0, 0, -1, 0), 0);
  EXPECT_EQ(QueueScreenFilledCircle(0, 0, -5, 0), 0);
  EXPECT_EQ(QueueScreenFilledRectangle(-50, -50, -1, 100, 0), 1);
  EXPECT_EQ(QueueScreenFilledRectangle(640, 0, 700, 10, 0), 1);
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 6);
}

TEST_F(ScreenPrimitiveCreateTest, CommandsReachTheBackBufferAndLeaveTheQueue) {
  ASSERT_EQ(QueueScreenPixel(5, 6, 0xFFFF0000), 1);
  ASSERT_EQ(QueueScreenLine(10, 20, 109, 20, 0xFF00FF00), 1);
  ASSERT_EQ(QueueScreenRectangle(200, 200, 209, 204, 0xFF0000FF), 1);
  ASSERT_EQ(QueueScreenFilledRectangle(300, 300, 309, 304, 0xFFFFFF00), 1);
  // Reaching off the top-left corner: the part on the screen is filled.
  ASSERT_EQ(QueueScreenFilledRectangle(-100, -100, 2, 3, 0xFF00FFFF), 1);
  ASSERT_EQ(QueueScreenCircle(500, 500, 20, 0xFFFF00FF), 1);
  ASSERT_EQ(QueueScreenFilledCircle(500, 100, 20, 0xFFFFFFFF), 1);
  const BackBufferImage image = Frame();
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);
  EXPECT_EQ(image.At(5, 6), 0xFF0000u);
  EXPECT_EQ(image.Count(0, 20, 640, 21, 0x00FF00), 100);
  // An outline of 10 x 5 pixels, corners included: 2 * 10 + 2 * 3 pixels, none inside.
  EXPECT_EQ(image.Count(195, 195, 215, 210, 0x0000FF), 26);
  EXPECT_EQ(image.At(204, 202), 0u);
  EXPECT_EQ(image.Count(290, 290, 320, 320, 0xFFFF00), 50);
  EXPECT_EQ(image.Count(0, 0, 10, 10, 0x00FFFF), 12);
  EXPECT_EQ(image.At(520, 500), 0xFF00FFu);
  EXPECT_EQ(image.At(500, 500), 0u);
  EXPECT_EQ(image.At(500, 100), 0xFFFFFFu);
  // Nothing queued: nothing drawn the next frame.
  EXPECT_EQ(Frame().Count(0, 0, 640, 640, 0x00FF00), 0);
}

using ClosedScreenPrimitiveTest = ClosedEngineTest;

TEST_F(ClosedScreenPrimitiveTest, NothingIsQueuedWithoutAnOpenEngine) {
  EXPECT_EQ(QueueScreenPixel(1, 1, 0), 0);
  EXPECT_EQ(QueueScreenLine(1, 1, 2, 2, 0), 0);
  EXPECT_EQ(QueueScreenCircle(1, 1, 2, 0), 0);
  EXPECT_EQ(QueueScreenFilledCircle(1, 1, 2, 0), 0);
  EXPECT_EQ(QueueScreenRectangle(1, 1, 2, 2, 0), 0);
  EXPECT_EQ(QueueScreenFilledRectangle(1, 1, 2, 2, 0), 0);
  EXPECT_EQ(Engine.ScreenPrimitiveQueue.Count(), 0);
}

}  // namespace
