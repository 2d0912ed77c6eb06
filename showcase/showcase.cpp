#include "showcase/showcase.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "engine/vexa.h"
#include "runtime/runtime.h"

ShowcaseState Showcase;

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kOrbitRadius = 15.0f;
constexpr float kCentreY = 1.0f;
constexpr float kOrbitDegreesPerSecond = 90.0f;
constexpr float kCarouselDegreesPerSecond = 45.0f;
constexpr int kShadowMapSize = 512;
constexpr int kGraphFrames = 120;
constexpr int kGraphLeft = 20, kGraphBottom = 620, kGraphHeight = 60;
constexpr int kHudLeft = 10, kHudTop = 8, kHudSwitchesLeft = 200;
constexpr float kSpotFieldOfView = 60.0f;  // the shadow map's frustum

Camera* camera = nullptr;
std::deque<float> frameTimes;
bool keyWasDown[256] = {};

void Fail(const std::string& what) {
  std::fprintf(stderr, "showcase: %s\n", what.c_str());
}

std::string Asset(const char* name) {
  return ShowcaseAssetDirectory() + "/" + name;
}

// Fails with the engine's own words when a creation refused.
template <class Record>
bool Made(Record* record, const char* what) {
  if (record != nullptr) return true;
  Fail(std::string("could not create ") + what +
       (Engine.LastErrorText.empty() ? std::string() : ": " + Engine.LastErrorText));
  return false;
}

// True once per press.
bool Pressed(int key) {
  const bool down = KeyDown(key) != 0;
  const bool pressed = down && !keyWasDown[key];
  keyWasDown[key] = down;
  return pressed;
}

float Radians(float degrees) {
  return degrees * kPi / 180.0f;
}

bool BuildMeshes() {
  Showcase.floor = CreatePlaneMesh(24.0f, 24.0f, 8, 6.0f);
  if (!Made(Showcase.floor, "the floor")) return false;
  Texture* floorTexture = LoadTexture(Asset("floor.png").c_str());
  if (!Made(floorTexture, "the floor's texture")) return false;
  SetMeshTexture(Showcase.floor, 0, floorTexture);
  SetMeshMaterial(Showcase.floor, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0, 0);

  struct Shape {
    Mesh** mesh;
    Mesh* made;
    float x, y, z;
    uint32_t colour;
    const char* what;
  };
  const Shape shapes[] = {
      {&Showcase.box, CreateBoxMesh(1.6f, 1.6f, 1.6f), -3.0f, 0.8f, 1.5f, 0xFFD04A3A, "the box"},
      {&Showcase.sphere, CreateSphereMesh(1.0f, 32, 16), 0.0f, 1.0f, 3.5f, 0xFF4A7AD0,
       "the sphere"},
      {&Showcase.teapot, CreateTeapotMesh(), 3.2f, 0.75f, 1.2f, 0xFFE0C040, "the teapot"},
      {&Showcase.carousel, CreateCylinderMesh(0.25f, 0.25f, 3.0f, 12, 1), 0.0f, 1.5f, -0.5f,
       0xFF909090, "the carousel's post"},
      {&Showcase.torus, CreateTorusMesh(0.25f, 0.8f, 16, 32), 2.2f, 0.0f, 0.0f, 0xFF40C070,
       "the torus"},
  };
  for (const Shape& s : shapes) {
    *s.mesh = s.made;
    if (!Made(s.made, s.what)) return false;
    PositionMesh(s.made, s.x, s.y, s.z);
    Texture* colour = CreateTexture(2, 2, s.colour);
    if (!Made(colour, "a colour texture")) return false;
    SetMeshTexture(s.made, 0, colour);
    SetMeshMaterial(s.made, 0, s.colour, 0xFF404040, 0xFF808080, 0, 24.0f);
  }
  // The cylinder stands upright; the torus hangs below it and goes round with it.
  RotateMesh(Showcase.carousel, 0.0f, 90.0f, 0.0f);
  AttachMesh(Showcase.torus, Showcase.carousel, 0);
  SetMeshOffsetAngles(Showcase.carousel, 0.0f, -90.0f, 0.0f);

  Showcase.prop = LoadMesh(Asset("prop.x").c_str());
  if (!Made(Showcase.prop, "the prop")) return false;
  PositionMesh(Showcase.prop, -1.0f, 0.0f, -3.8f);
  RotateMesh(Showcase.prop, 20.0f, 0.0f, 0.0f);
  return true;
}

bool BuildLights() {
  Showcase.spot = CreateLight(2);
  if (!Made(Showcase.spot, "the spot light")) return false;
  // From behind on the left, so the shadows fall towards the camera's usual side.
  PositionLight(Showcase.spot, -5.0f, 11.0f, 7.0f);
  AimLight(Showcase.spot, 0.0f, 0.0f, -0.5f);
  SetLightRange(Showcase.spot, 40.0f, 1.0f, 0.0f, 0.0f);
  SetLightCone(Showcase.spot, 40.0f, 60.0f, 1.0f);
  SetLightColour(Showcase.spot, 0xFFFFF4E0, 0xFFFFFFFF, 0xFF303030);
  Showcase.fill = CreateLight(3);
  if (!Made(Showcase.fill, "the fill light")) return false;
  PositionLight(Showcase.fill, 0.0f, 10.0f, 10.0f);
  AimLight(Showcase.fill, 0.0f, 0.0f, 0.0f);
  SetLightColour(Showcase.fill, 0xFF303848, 0, 0xFF202020);
  if (EnableShadowMapping(Showcase.spot, kShadowMapSize) != 1) {
    Fail("could not switch shadow mapping on: " + Engine.LastErrorText);
    return false;
  }
  return true;
}

bool BuildParticles() {
  Showcase.sparks = CreateParticleEmitter(600);
  if (!Made(Showcase.sparks, "the sparks")) return false;
  for (int frame = 0; frame < 8; ++frame) {
    char name[32];
    std::snprintf(name, sizeof name, "spark%d.png", frame);
    Texture* picture = LoadTexture(Asset(name).c_str());
    if (!Made(picture, "a spark frame")) return false;
    SetParticleEmitterFrame(Showcase.sparks, frame, picture);
  }
  SetParticleEmitterAnimation(Showcase.sparks, 14.0f, 7);
  SetParticleEmitterRate(Showcase.sparks, 12, 0.04f);
  SetParticleEmitterLife(Showcase.sparks, 0.6f, 1.2f);
  SetParticleEmitterSize(Showcase.sparks, 0.25f, 0.45f);
  SetParticleEmitterColours(Showcase.sparks, 0xFFFFC040, 0xFFFF8010);
  SetParticleEmitterVelocity(Showcase.sparks, 0.0f, 4.0f, 0.0f, 2.0f);
  SetParticleEmitterGravity(Showcase.sparks, 0.0f, -6.0f, 0.0f);
  PositionParticleEmitter(Showcase.sparks, 4.5f, 0.2f, -2.5f);

  Showcase.smoke = CreateParticleEmitter(200);
  if (!Made(Showcase.smoke, "the smoke")) return false;
  Texture* puff = LoadTexture(Asset("smoke.png").c_str());
  if (!Made(puff, "the smoke's picture")) return false;
  SetParticleEmitterTexture(Showcase.smoke, puff);
  SetParticleEmitterRate(Showcase.smoke, 1, 0.08f);
  SetParticleEmitterLife(Showcase.smoke, 2.5f, 4.0f);
  SetParticleEmitterSize(Showcase.smoke, 1.2f, 2.2f);
  SetParticleEmitterColours(Showcase.smoke, 0xFF141414, 0xFF22222A);
  SetParticleEmitterVelocity(Showcase.smoke, 0.2f, 1.0f, 0.0f, 0.3f);
  PositionParticleEmitter(Showcase.smoke, -4.5f, 0.3f, -2.0f);
  return true;
}

// The spot light's shadow frustum as lines: the apex to the far corners, and the far rectangle.
bool BuildFrustumOutline() {
  const Light* spot = Showcase.spot;
  const D3DVECTOR p = spot->D3DLight.Position;
  D3DXVECTOR3 axis(spot->Target[0] - p.x, spot->Target[1] - p.y, spot->Target[2] - p.z);
  D3DXVec3Normalize(&axis, &axis);
  D3DXVECTOR3 up(0.0f, 1.0f, -1.0f), right, top;
  D3DXVec3Cross(&right, &up, &axis);
  D3DXVec3Normalize(&right, &right);
  D3DXVec3Cross(&top, &axis, &right);
  const float reach = 14.0f;  // drawn shorter than the range, down to about the floor
  const float half = reach * std::tan(Radians(kSpotFieldOfView) / 2.0f);
  D3DXVECTOR3 corner[4];
  const float signs[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (int i = 0; i < 4; ++i)
    corner[i] = D3DXVECTOR3(p.x, p.y, p.z) + axis * reach + right * (signs[i][0] * half) +
                top * (signs[i][1] * half);
  PrimitiveVertex lines[16];
  const uint32_t colour = 0xFFFFE080;
  for (int i = 0; i < 4; ++i) {
    lines[2 * i] = {p.x, p.y, p.z, colour};
    lines[2 * i + 1] = {corner[i].x, corner[i].y, corner[i].z, colour};
    const D3DXVECTOR3& a = corner[i];
    const D3DXVECTOR3& b = corner[(i + 1) % 4];
    lines[8 + 2 * i] = {a.x, a.y, a.z, colour};
    lines[8 + 2 * i + 1] = {b.x, b.y, b.z, colour};
  }
  Showcase.frustum = CreatePrimitiveBuffer(D3DPT_LINELIST, lines, 16);
  return Made(Showcase.frustum, "the light's outline");
}

bool BuildFigure() {
  Showcase.figure = LoadAnimatedMesh(Asset("figure.x").c_str());
  if (!Made(Showcase.figure, "the figure")) return false;
  PositionAnimatedMesh(Showcase.figure, 1.5f, 0.0f, -1.8f);
  OrientAnimatedMesh(Showcase.figure, 200.0f, 0.0f, 0.0f, 1.0f);
  SetAnimatedMeshAnimation(Showcase.figure, "Walk");
  return true;
}

void PlaceCamera() {
  float x, y, z;
  ShowcaseCameraPosition(&x, &y, &z);
  PositionCamera(camera, x, y, z);
  PointCamera(camera, 0.0f, kCentreY, 0.0f);
}

void DrawHud(float frameSeconds) {
  frameTimes.push_back(frameSeconds);
  while (static_cast<int>(frameTimes.size()) > kGraphFrames) frameTimes.pop_front();
  char line[160];
  std::snprintf(line, sizeof line, "%d fps  %.2f ms", FrameRate(), frameSeconds * 1000.0f);
  DrawText(kHudLeft, kHudTop, line);
  // The switches at a place of their own: this part changes only when a key switches something.
  std::snprintf(line, sizeof line, "S shadows %s   C culling %s   P particles %s",
                Showcase.shadows ? "on" : "off", Showcase.culling ? "on" : "off",
                Showcase.particles ? "on" : "off");
  DrawText(kHudSwitchesLeft, kHudTop, line);
  // The frame-time graph: one column per frame, 1 pixel per millisecond, a line at 16.7 ms.
  const int right = kGraphLeft + kGraphFrames + 1;
  QueueScreenRectangle(kGraphLeft - 1, kGraphBottom - kGraphHeight, right, kGraphBottom + 1,
                       0xFF808080);
  const int budget = kGraphBottom - 17;
  QueueScreenLine(kGraphLeft, budget, right - 1, budget, 0xFF40A040);
  int x = kGraphLeft;
  for (float t : frameTimes) {
    int h = static_cast<int>(t * 1000.0f + 0.5f);
    if (h > kGraphHeight - 1) h = kGraphHeight - 1;
    if (h > 0) QueueScreenLine(x, kGraphBottom, x, kGraphBottom - h, 0xFFFFD040);
    ++x;
  }
}

}  // namespace

std::string ShowcaseAssetDirectory() {
  if (const char* dir = std::getenv("SHOWCASE_ASSETS"); dir != nullptr && dir[0] != '\0')
    return dir;
  return VEXA_SHOWCASE_ASSETS;
}

void ShowcaseCameraPosition(float* x, float* y, float* z) {
  const float orbit = Radians(Showcase.orbitDegrees);
  const float elevation = Radians(Showcase.elevationDegrees);
  *x = kOrbitRadius * std::cos(elevation) * std::sin(orbit);
  *y = kCentreY + kOrbitRadius * std::sin(elevation);
  *z = -kOrbitRadius * std::cos(elevation) * std::cos(orbit);
}

int ShowcaseStartup() {
  const bool fixedStep = Showcase.fixedStep;
  Showcase = ShowcaseState{};
  Showcase.fixedStep = fixedStep;
  frameTimes.clear();
  for (bool& k : keyWasDown) k = false;

  const int screen = OpenScreen(0, 0, kShowcaseWidth, kShowcaseHeight, kShowcaseTitle, 0x00C80001);
  if (screen != kEngineOk) {
    std::fprintf(stderr, "showcase: could not open the %d x %d window: engine error %d (%s)\n",
                 kShowcaseWidth, kShowcaseHeight, screen,
                 screen == kEngineNoDevice || screen == kEngineDisplayAdapter
                     ? "is a display available?"
                     : "see the engine's error list");
    return 1;
  }
  SetFrameSync(0);
  Engine.ClearColour = 0xFF101820;

  camera = CreateCamera(55.0f, 0.5f, 100.0f);
  if (!Made(camera, "the camera")) return 1;
  ActivateCamera(camera);
  PlaceCamera();
  SetFrustumCulling(1);

  if (!BuildMeshes() || !BuildLights() || !BuildParticles() || !BuildFrustumOutline() ||
      !BuildFigure())
    return 1;
  return 0;
}

bool ShowcaseFrame() {
  if (PollWindowEvent() == kWindowEventClose) return false;

  // The engine's passes (particles, skinning) age by Engine.FrameTime, so a fixed step replaces
  // it too; the heads-up graph still shows the measured time.
  const float measured = Engine.FrameTime;
  if (Showcase.fixedStep) Engine.FrameTime = 1.0f / 60.0f;
  const float dt = Showcase.fixedStep ? Engine.FrameTime : (measured > 0.1f ? 0.1f : measured);
  Showcase.seconds += dt;
  if (KeyDown(kShowcaseKeyLeft)) Showcase.orbitDegrees += kOrbitDegreesPerSecond * dt;
  if (KeyDown(kShowcaseKeyRight)) Showcase.orbitDegrees -= kOrbitDegreesPerSecond * dt;
  if (KeyDown(kShowcaseKeyUp)) Showcase.elevationDegrees += kOrbitDegreesPerSecond * 0.5f * dt;
  if (KeyDown(kShowcaseKeyDown)) Showcase.elevationDegrees -= kOrbitDegreesPerSecond * 0.5f * dt;
  if (Showcase.elevationDegrees < 5.0f) Showcase.elevationDegrees = 5.0f;
  if (Showcase.elevationDegrees > 85.0f) Showcase.elevationDegrees = 85.0f;
  PlaceCamera();

  if (Pressed(kShowcaseKeyShadows)) {
    Showcase.shadows = !Showcase.shadows;
    SetShadowMapping(Showcase.shadows ? 1 : 0);
  }
  if (Pressed(kShowcaseKeyCulling)) {
    Showcase.culling = !Showcase.culling;
    SetFrustumCulling(Showcase.culling ? 1 : 0);
  }
  if (Pressed(kShowcaseKeyParticles)) {
    Showcase.particles = !Showcase.particles;
    SetParticleEmitterRate(Showcase.sparks, Showcase.particles ? 12 : 0, 0.04f);
    SetParticleEmitterRate(Showcase.smoke, Showcase.particles ? 1 : 0, 0.08f);
  }

  Showcase.parentDegrees += kCarouselDegreesPerSecond * dt;
  RotateMesh(Showcase.carousel, Showcase.parentDegrees, 90.0f, 0.0f);
  RotateMesh(Showcase.teapot, Showcase.parentDegrees * -0.5f, 0.0f, 0.0f);

  DrawHud(measured);
  RenderWorld();
  Flip();
  return !KeyDown(kShowcaseKeyEscape);
}

int ShowcaseShutdown() {
  EngineShutdown();
  EndRuntime();
  camera = nullptr;
  frameTimes.clear();
  const bool fixedStep = Showcase.fixedStep;
  Showcase = ShowcaseState{};
  Showcase.fixedStep = fixedStep;
  return 0;
}
