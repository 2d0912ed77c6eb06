// The physics world: one Chipmunk space with a small circular body per banner pixel and, after
// SPACE, two heavy balls.
#include <cmath>

#include "app/demo.h"

cpSpace* Space = nullptr;
int32_t BodyCount = 0;
Sprite* Palette[kPaletteSize] = {};
RuntimeId LogoImage = 0;

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
cpShape* AddCircleBody(double mass, double moment, double radius, cpVect position, cpVect velocity,
                       void* userData) {
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

// The sprite of a banner pixel value. The banner is drawn on black in colours 1 to 4, so its
// values are 0..4; any other value (an image drawn some other way) is built as a grid body rather
// than reading past the palette or dropping a lit pixel from the banner's outline.
Sprite* PaletteSprite(uint32_t value) {
  return value < static_cast<uint32_t>(kPaletteSize) ? Palette[value] : Palette[0];
}

// Pixel to banner coordinate: 2.5 units per pixel around the image centre, rounded to the
// nearest integer with ties to even (the default rounding mode of nearbyint).
int32_t BannerCoordinate(int pixel, int size) {
  return static_cast<int32_t>(std::nearbyint((pixel - size / 2.0) * 2.5));
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

void BuildLogo() {
  if (Space == nullptr) return;
  if (BeginImageDrawing(LogoImage) == nullptr) return;
  const int w = RasterImageWidth(LogoImage);
  const int h = RasterImageHeight(LogoImage);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = w - 1; x >= 0; --x) {
      const uint32_t value = ReadPixel(x, y);
      if (value == 0 && x % 8 != 0 && y % 8 != 0) continue;
      if (AddBlock(BannerCoordinate(x, w), BannerCoordinate(y, h), PaletteSprite(value)))
        BodyCount += 1;
    }
  }
  EndDrawing();
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
