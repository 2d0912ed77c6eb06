// The 5.3 calls over Chipmunk 7: freeing a space's children, the active-shape hash, its
// iteration, and positions written through the adapter's setters.
#include "app/chipmunk53.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace {

struct SpaceFixture : ::testing::Test {
  void SetUp() override {
    cpInitChipmunk();
    space = cpSpaceNew();
    ASSERT_NE(space, nullptr);
  }
  void TearDown() override {
    cpSpaceFreeChildren(space);
    cpSpaceFree(space);
  }

  cpShape* AddCircle(cpVect position, double radius, void* userData = nullptr) {
    cpBody* body = cpSpaceAddBody(space, cpBodyNew(1.0, 1.0));
    cpBodySetPosition(body, position);
    cpShape* shape = cpSpaceAddShape(space, cpCircleShapeNew(body, radius, cpvzero));
    cpShapeSetUserData(shape, userData);
    return shape;
  }

  int ShapeCount() const { return cpSpatialIndexCount(space->dynamicShapes); }
  int BodyCount() const { return space->dynamicBodies->num; }

  cpSpace* space = nullptr;
};

void CountVisit(void* object, void* data) {
  auto* seen = static_cast<std::vector<void*>*>(data);
  seen->push_back(object);
}

using FreeChildren = SpaceFixture;

TEST_F(FreeChildren, EmptiesTheSpaceAndLeavesItUsable) {
  for (int i = 0; i < 500; ++i) AddCircle(cpv(i * 3.0, 0.0), 1.0);
  ASSERT_EQ(ShapeCount(), 500);
  ASSERT_EQ(BodyCount(), 500);

  cpSpaceFreeChildren(space);
  EXPECT_EQ(ShapeCount(), 0);
  EXPECT_EQ(BodyCount(), 0);

  // The space keeps working: new children are simulated and freed again by TearDown.
  cpShape* shape = AddCircle(cpv(5.0, 5.0), 1.0);
  cpBodySetVelocity(shape->body, cpv(60.0, 0.0));
  cpSpaceStep(space, 0.5);
  EXPECT_DOUBLE_EQ(cpBodyGetPosition(shape->body).x, 35.0);
  EXPECT_EQ(ShapeCount(), 1);
}

TEST_F(FreeChildren, FreesBodiesThatAreInContact) {
  // Overlapping circles leave arbiters in the space that refer to both shapes; freeing must
  // drop them with the shapes (a stale arbiter is a use-after-free under the sanitizers).
  for (int i = 0; i < 50; ++i) AddCircle(cpv(i * 1.0, 0.0), 1.0);
  cpSpaceStep(space, 1.0 / 60.0);
  ASSERT_GT(space->arbiters->num, 0);

  cpSpaceFreeChildren(space);
  EXPECT_EQ(ShapeCount(), 0);
  EXPECT_EQ(BodyCount(), 0);
  cpSpaceStep(space, 1.0 / 60.0);
  EXPECT_EQ(space->arbiters->num, 0);
}

TEST_F(FreeChildren, KeepsTheSpaceStaticBodyButFreesItsShapes) {
  cpBody* ground = cpSpaceGetStaticBody(space);
  cpSpaceAddShape(space, cpCircleShapeNew(ground, 4.0, cpv(100.0, 100.0)));
  AddCircle(cpv(0.0, 0.0), 1.0);

  cpSpaceFreeChildren(space);
  EXPECT_EQ(cpSpaceGetStaticBody(space), ground);
  EXPECT_EQ(ground->shapeList, nullptr);
  EXPECT_EQ(cpSpatialIndexCount(space->staticShapes), 0);
  EXPECT_EQ(ShapeCount(), 0);
}

TEST_F(FreeChildren, IgnoresANullSpace) {
  AddCircle(cpv(0.0, 0.0), 1.0);
  cpSpaceFreeChildren(nullptr);
  EXPECT_EQ(ShapeCount(), 1);
}

using ActiveHash = SpaceFixture;

TEST_F(ActiveHash, ResizeSwitchesToASpatialHashThatStillFindsEveryShape) {
  std::vector<cpShape*> shapes;
  for (int i = 0; i < 20; ++i) shapes.push_back(AddCircle(cpv(i * 5.0, 0.0), 1.0));
  const cpSpatialIndexClass* before = space->dynamicShapes->klass;

  cpSpaceResizeActiveHash(space, 2.0, 110000);
  EXPECT_NE(space->dynamicShapes->klass, before);
  EXPECT_EQ(ShapeCount(), 20);
  // Shapes in the new hash are still found by queries.
  cpPointQueryInfo info;
  EXPECT_EQ(cpSpacePointQueryNearest(space, cpv(25.2, 0.0), 0.5, CP_SHAPE_FILTER_ALL, &info),
            shapes[5]);
}

TEST_F(ActiveHash, ResizeIgnoresUnusableDimensions) {
  const cpSpatialIndexClass* before = space->dynamicShapes->klass;
  cpSpaceResizeActiveHash(space, 0.0, 100);
  cpSpaceResizeActiveHash(space, -2.0, 100);
  cpSpaceResizeActiveHash(space, NAN, 100);
  cpSpaceResizeActiveHash(space, INFINITY, 100);
  cpSpaceResizeActiveHash(space, 2.0, 0);
  cpSpaceResizeActiveHash(nullptr, 2.0, 100);
  EXPECT_EQ(space->dynamicShapes->klass, before);
}

TEST_F(ActiveHash, EachVisitsEveryActiveShapeOnce) {
  cpSpaceResizeActiveHash(space, 2.0, 1000);
  std::set<void*> added;
  for (int i = 0; i < 300; ++i) added.insert(AddCircle(cpv(i % 30 * 2.0, i / 30 * 2.0), 1.0));
  // A shape of the static body is not active and must not be visited.
  cpSpaceAddShape(space, cpCircleShapeNew(cpSpaceGetStaticBody(space), 1.0, cpv(-50, -50)));

  std::vector<void*> seen;
  cpSpaceHashEach(cpSpaceActiveShapes(space), CountVisit, &seen);
  EXPECT_EQ(seen.size(), added.size());
  EXPECT_EQ(std::set<void*>(seen.begin(), seen.end()), added);

  seen.clear();
  cpSpaceHashEach(nullptr, CountVisit, &seen);
  cpSpaceHashEach(cpSpaceActiveShapes(space), nullptr, &seen);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(cpSpaceActiveShapes(nullptr), nullptr);
}

using Setters = SpaceFixture;

TEST_F(Setters, ACircleAddedAfterAPositionWriteIsAtTheNewPlaceAtOnce) {
  // The world centre must be right before any step: the draw pass reads it in the first frame,
  // and the broad phase of the first step must see the shape where its body is.
  cpShape* shape = AddCircle(cpv(330.0, 320.0), 1.0);
  const cpCircleShape* circle = reinterpret_cast<const cpCircleShape*>(shape);
  EXPECT_EQ(circle->tc.x, 330.0);
  EXPECT_EQ(circle->tc.y, 320.0);
  EXPECT_EQ(circle->r, 1.0);

  cpPointQueryInfo info;
  EXPECT_EQ(cpSpacePointQueryNearest(space, cpv(330.0, 320.0), 0.0, CP_SHAPE_FILTER_ALL, &info),
            shape);
}

TEST(ChipmunkInit, ShapeIdsStartAtZeroInEveryNewSpace) {
  // The hash keys, and with them the visit order, depend on the shape ids: every world build
  // must start from the same ids, as cpResetShapeIdCounter promised in 5.3.
  std::vector<cpHashValue> ids[2];
  for (auto& run : ids) {
    cpInitChipmunk();
    cpResetShapeIdCounter();
    cpSpace* space = cpSpaceNew();
    for (int i = 0; i < 3; ++i) {
      cpBody* body = cpSpaceAddBody(space, cpBodyNew(1.0, 1.0));
      run.push_back(cpSpaceAddShape(space, cpCircleShapeNew(body, 1.0, cpvzero))->hashid);
    }
    cpSpaceFreeChildren(space);
    cpSpaceFree(space);
  }
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[0].front(), 0u);
}

}  // namespace
