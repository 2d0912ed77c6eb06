// The physics world: one Chipmunk space with a small circular body per banner pixel and, after
// SPACE, two heavy balls.
#include <cmath>

#include "app/demo.h"

cpSpace* Space = nullptr;
int32_t BodyCount = 0;
Sprite* Palette[kPaletteSize] = {};

namespace {

constexpr double kBlockMass = 1.0;
constexpr double kBlockMoment = 9999999.0;
constexpr double kBlockRadius = 1.0;
constexpr double kBallMass = 9999999.0;
constexpr double kBallMoment = 9999999.0;
constexpr double kBallRadius = 8.0;
// Cells about one banner body across; the library's default (100 units, 1000 cells) would put
// hundreds of bodies in each cell.
constexpr double kHashCellSize = 2.0;
constexpr int kHashCells = 110000;

// A body with one circle centred on it, elasticity 0, placed and moving as given. Null (with
// nothing left allocated) if the library cannot allocate either.
cpShape* AddCircleBody(double mass, double moment, double radius, cpVect position,
                       cpVect velocity, void* userData) {
  if (Space == nullptr) return nullptr;
  cpBody* body = cpBodyNew(mass, moment);
  if (body == nullptr) return nullptr;
  cpBodySetPosition(body, position);
  cpBodySetVelocity(body, velocity);
  cpShape* shape = cpCircleShapeNew(body, radius, cpvzero);
  if (shape == nullptr) {
    cpBodyFree(body);
    return nullptr;
  }
  cpShapeSetElasticity(shape, 0.0);
  cpShapeSetUserData(shape, userData);
  cpSpaceAddBody(Space, body);
  cpSpaceAddShape(Space, shape);
  return shape;
}

}  // namespace

bool InitPhysics() {
  cpInitChipmunk();
  cpResetShapeIdCounter();
  Space = cpSpaceNew();
  if (Space == nullptr) return false;
  cpSpaceResizeActiveHash(Space, kHashCellSize, kHashCells);
  cpSpaceSetIterations(Space, 1);
  return true;
}

void FreePhysics() {
  if (Space == nullptr) return;
  cpSpaceFreeChildren(Space);
  cpSpaceFree(Space);
  Space = nullptr;
}

cpShape* AddBlock(int32_t x, int32_t y, Sprite* sprite) {
  const cpVect position = cpv(x + kBannerCentreX, y + kBannerCentreY);
  return AddCircleBody(kBlockMass, kBlockMoment, kBlockRadius, position, cpvzero, sprite);
}

void AddBall(int32_t x, int32_t y, int32_t vx, int32_t vy) {
  AddCircleBody(kBallMass, kBallMoment, kBallRadius, cpv(x, y), cpv(vx, vy), nullptr);
}

void StepPhysics() {
  if (Space == nullptr) return;
  cpSpaceStep(Space, kPhysicsStep);
  cpSpaceStep(Space, kPhysicsStep);
}
