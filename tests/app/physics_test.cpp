// The physics world without the banner image: world set-up, banner bodies, balls, stepping,
// freeing and rebuilding.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/demo.h"

namespace {

Sprite* FakeSprite(int index) {
  static char storage[8];
  return reinterpret_cast<Sprite*>(&storage[index]);
}

const cpCircleShape* Circle(const cpShape* shape) {
  return reinterpret_cast<const cpCircleShape*>(shape);
}

struct World : ::testing::Test {
  void SetUp() override {
    BodyCount = 0;
    ASSERT_TRUE(InitPhysics());
    ASSERT_NE(Space, nullptr);
  }
  void TearDown() override { FreePhysics(); }
};

void CollectShape(void* shape, void* data) {
  static_cast<std::vector<cpShape*>*>(data)->push_back(static_cast<cpShape*>(shape));
}

std::vector<cpShape*> ActiveShapes() {
  std::vector<cpShape*> shapes;
  cpSpaceHashEach(cpSpaceActiveShapes(Space), CollectShape, &shapes);
  return shapes;
}

using WorldSetup = World;

TEST_F(WorldSetup, HasNoGravityNoDampingNoSleepingAndOneIteration) {
  EXPECT_EQ(cpSpaceGetIterations(Space), 1);
  EXPECT_EQ(cpSpaceGetGravity(Space).x, 0.0);
  EXPECT_EQ(cpSpaceGetGravity(Space).y, 0.0);
  EXPECT_EQ(cpSpaceGetDamping(Space), 1.0);
  EXPECT_TRUE(std::isinf(cpSpaceGetSleepTimeThreshold(Space)));
  EXPECT_TRUE(ActiveShapes().empty());
}

TEST_F(WorldSetup, UsesTheFineSpatialHashForActiveShapes) {
  // A fresh space indexes its shapes in a bounding-box tree; the resize replaces that.
  cpSpace* plain = cpSpaceNew();
  EXPECT_NE(cpSpaceActiveShapes(Space)->klass, cpSpaceActiveShapes(plain)->klass);
  cpSpaceFree(plain);
}

TEST_F(WorldSetup, SubStepIsOneSixtiethInSinglePrecision) {
  EXPECT_EQ(kPhysicsStep, 0.01666666753590107);
  EXPECT_NE(kPhysicsStep, 1.0 / 60.0);
}

using Blocks = World;

TEST_F(Blocks, AddBlockPlacesAUnitCircleAroundTheBannerCentre) {
  cpShape* shape = AddBlock(-225, 85, FakeSprite(3));
  ASSERT_NE(shape, nullptr);
  cpBody* body = shape->body;
  EXPECT_EQ(cpBodyGetPosition(body).x, 95.0);
  EXPECT_EQ(cpBodyGetPosition(body).y, 385.0);
  EXPECT_EQ(Circle(shape)->tc.x, 95.0);
  EXPECT_EQ(Circle(shape)->tc.y, 385.0);
  EXPECT_EQ(Circle(shape)->r, 1.0);
  EXPECT_EQ(cpBodyGetMass(body), 1.0);
  EXPECT_EQ(cpBodyGetMoment(body), 9999999.0);
  EXPECT_EQ(cpShapeGetElasticity(shape), 0.0);
  EXPECT_EQ(cpShapeGetFriction(shape), 0.0);
  EXPECT_EQ(cpShapeGetUserData(shape), FakeSprite(3));
  EXPECT_EQ(cpBodyGetVelocity(body).x, 0.0);
  EXPECT_EQ(cpBodyGetVelocity(body).y, 0.0);
  EXPECT_EQ(ActiveShapes(), std::vector<cpShape*>{shape});
  // Counting is the banner build's job, not AddBlock's.
  EXPECT_EQ(BodyCount, 0);
}

TEST_F(Blocks, TouchingNeighboursNeverPushEachOtherApart) {
  // Banner neighbours end up 2 or 3 units apart: radius-1 circles that touch or stand clear.
  std::vector<cpShape*> shapes;
  int x = 0;
  for (int i = 0; i < 40; ++i) {
    x += (i % 2 == 0) ? 2 : 3;
    shapes.push_back(AddBlock(x, 0, nullptr));
    shapes.push_back(AddBlock(x, 2, nullptr));
    shapes.push_back(AddBlock(x, 5, nullptr));
  }
  std::vector<cpVect> before;
  for (cpShape* s : shapes) before.push_back(cpBodyGetPosition(s->body));
  for (int frame = 0; frame < 300; ++frame) StepPhysics();
  for (size_t i = 0; i < shapes.size(); ++i) {
    EXPECT_EQ(cpBodyGetPosition(shapes[i]->body).x, before[i].x) << i;
    EXPECT_EQ(cpBodyGetPosition(shapes[i]->body).y, before[i].y) << i;
  }
}

TEST_F(Blocks, OverlappingNeighboursDoMove) {
  // The counterpart of the test above: the world does resolve real overlaps, so "nothing moved"
  // there means "no contact", not "nothing is simulated".
  cpShape* a = AddBlock(0, 0, nullptr);
  cpShape* b = AddBlock(1, 0, nullptr);
  for (int frame = 0; frame < 30; ++frame) StepPhysics();
  EXPECT_LT(cpBodyGetPosition(a->body).x, 320.0);
  EXPECT_GT(cpBodyGetPosition(b->body).x, 321.0);
}

using Balls = World;

TEST_F(Balls, ABallIsHeavyInvisibleAndUncounted) {
  AddBall(-300, 200, 700, 105);
  std::vector<cpShape*> shapes = ActiveShapes();
  ASSERT_EQ(shapes.size(), 1u);
  cpShape* ball = shapes[0];
  EXPECT_EQ(cpShapeGetUserData(ball), nullptr);
  EXPECT_EQ(Circle(ball)->r, 8.0);
  EXPECT_EQ(cpBodyGetMass(ball->body), 9999999.0);
  EXPECT_EQ(cpBodyGetMoment(ball->body), 9999999.0);
  EXPECT_EQ(cpShapeGetElasticity(ball), 0.0);
  EXPECT_EQ(cpBodyGetPosition(ball->body).x, -300.0);
  EXPECT_EQ(cpBodyGetPosition(ball->body).y, 200.0);
  EXPECT_EQ(cpBodyGetVelocity(ball->body).x, 700.0);
  EXPECT_EQ(cpBodyGetVelocity(ball->body).y, 105.0);
  EXPECT_EQ(BodyCount, 0);
}

TEST_F(Balls, StepPhysicsAdvancesTwoSubStepsOfTheFixedStep) {
  AddBall(-300, 200, 700, 105);
  cpBody* ball = ActiveShapes()[0]->body;
  StepPhysics();
  // Free flight: each sub-step adds velocity times the single-precision sixtieth.
  double x = -300.0, y = 200.0;
  for (int i = 0; i < 2; ++i) {
    x += 700.0 * 0.01666666753590107;
    y += 105.0 * 0.01666666753590107;
  }
  EXPECT_DOUBLE_EQ(cpBodyGetPosition(ball).x, x);
  EXPECT_DOUBLE_EQ(cpBodyGetPosition(ball).y, y);
}

TEST_F(Balls, ABallKnocksBannerBodiesOutOfItsWay) {
  std::vector<cpShape*> row;
  for (int x = -20; x <= 20; x += 2) row.push_back(AddBlock(x, 0, FakeSprite(1)));
  AddBall(320, 200, 0, 700);  // straight down through the row at y 300
  for (int frame = 0; frame < 30; ++frame) StepPhysics();
  int moved = 0;
  for (cpShape* s : row) moved += cpBodyGetPosition(s->body).y != 300.0;
  EXPECT_GT(moved, 0);
  // The ball barely notices them: it keeps almost all of its speed.
  cpBody* ball = nullptr;
  for (cpShape* s : ActiveShapes())
    if (cpShapeGetUserData(s) == nullptr) ball = s->body;
  ASSERT_NE(ball, nullptr);
  EXPECT_GT(cpBodyGetVelocity(ball).y, 699.0);
}

using Lifecycle = World;

TEST_F(Lifecycle, FreePhysicsRemovesTheWorldAndIsSafeWithoutOne) {
  AddBlock(0, 0, nullptr);
  AddBall(0, 0, 1, 1);
  FreePhysics();
  EXPECT_EQ(Space, nullptr);
  FreePhysics();
  // Without a world the operations do nothing rather than crash.
  EXPECT_EQ(AddBlock(0, 0, nullptr), nullptr);
  AddBall(0, 0, 1, 1);
  StepPhysics();
  EXPECT_EQ(Space, nullptr);
}

TEST_F(Lifecycle, RebuildingAHundredTimesStartsFromAnEmptyWorldEachTime) {
  // Every world is freed whole (the sanitizer build reports any body or shape left behind).
  for (int round = 0; round < 100; ++round) {
    FreePhysics();
    ASSERT_TRUE(InitPhysics());
    EXPECT_TRUE(ActiveShapes().empty());
    for (int i = 0; i < 30; ++i) AddBlock(i * 2, round % 7, FakeSprite(i % 5));
    AddBall(-300, 200, 700, 105);
    AddBall(900, 390, -700, -105);
    StepPhysics();
    EXPECT_EQ(ActiveShapes().size(), 32u);
  }
}

}  // namespace
