// The palette sprites, the body drawing and the heads-up line.
#include "app/palette.h"

#include <cmath>
#include <limits>

#include "engine/vexa.h"

Texture* PaletteTextures[kPaletteSize] = {};

namespace {
constexpr RuntimeId kScratchImage = 0;
constexpr int kHudX = 200;
constexpr int kHudY = 560;
constexpr double kRadiansToDegrees = 180.0 / 3.14159265358979323846;

// Nearest integer, ties to even; false for a coordinate no screen position can hold.
bool ToPixel(double value, int32_t* out) {
  double rounded = std::nearbyint(value);
  if (!(rounded >= std::numeric_limits<int32_t>::min() &&
        rounded <= std::numeric_limits<int32_t>::max())) {
    return false;
  }
  *out = static_cast<int32_t>(rounded);
  return true;
}
}  // namespace

void BuildPalette() {
  // The same 3 x 3 image is drawn over for each colour: the circle of radius 1 covers the centre
  // and its four neighbours (a plus sign), the black corners become transparent in CreateSprite.
  if (NewRasterImage(kScratchImage, 3, 3) == 0) return;
  for (int i = 0; i < kPaletteSize; ++i) {
    if (BeginImageDrawing(kScratchImage) == nullptr) continue;
    FillCircle(1, 1, 1, kPaletteColours[i]);
    EndDrawing();
    PaletteTextures[i] = CreateTextureFromImage(kScratchImage);
    Palette[i] = CreateSprite(PaletteTextures[i]);
  }
  ReleaseRasterImage(kScratchImage);
}

void DrawShape(void* object, void* /*data*/) {
  auto* shape = static_cast<cpShape*>(object);
  auto* sprite = static_cast<Sprite*>(cpShapeGetUserData(shape));
  if (sprite == nullptr) return;  // a ball: nothing to draw
  const cpVect world = reinterpret_cast<cpCircleShape*>(shape)->tc;
  int32_t x = 0;
  int32_t y = 0;
  if (!ToPixel(world.x, &x) || !ToPixel(world.y, &y)) return;
  // Each body's plus sign turns with its body. Banner bodies have a huge moment of inertia, so
  // the angle stays near 0 until the balls strike.
  RotateSprite(sprite,
               static_cast<float>(cpBodyGetAngle(cpShapeGetBody(shape)) * kRadiansToDegrees));
  DrawSprite(sprite, x, y);
}

void DrawShapes() {
  if (Space == nullptr) return;
  cpSpaceHashEach(cpSpaceActiveShapes(Space), DrawShape, nullptr);
}

std::string HudText(int32_t frameRate, int32_t bodyCount) {
  return "FPS: " + std::to_string(frameRate) + " Objekte: " + std::to_string(bodyCount);
}

void DrawHud() {
  const std::string text = HudText(FrameRate(), BodyCount);
  DrawText(kHudX, kHudY, text.c_str());
}
