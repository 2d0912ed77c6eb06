// The 3D showcase: a lit, textured, shadow-mapped scene with a skinned figure, particles, a
// primitive buffer and a heads-up graph, driven by the same start-up, frame and shutdown split as
// the demo, so that tests and tools run exactly what the program runs.
#pragma once

#include <cstdint>
#include <string>

struct Mesh;
struct Light;
struct ParticleEmitter;
struct AnimatedMesh;
struct PrimitiveBuffer;

constexpr const char kShowcaseTitle[] = "Kestrelwing Showcase";
constexpr int kShowcaseWidth = 640;
constexpr int kShowcaseHeight = 640;

// Keys (DirectInput scan codes).
constexpr int kShowcaseKeyEscape = 0x01;
constexpr int kShowcaseKeyShadows = 0x1F;    // S
constexpr int kShowcaseKeyCulling = 0x2E;    // C
constexpr int kShowcaseKeyParticles = 0x19;  // P
constexpr int kShowcaseKeyLeft = 0xCB;
constexpr int kShowcaseKeyRight = 0xCD;
constexpr int kShowcaseKeyUp = 0xC8;
constexpr int kShowcaseKeyDown = 0xD0;

// Where the heads-up line shows the switches (x from, y, width, height in window pixels).
constexpr int kShowcaseSwitchesBox[4] = {200, 4, 430, 22};

// What a frame shows, for tests and tools.
struct ShowcaseState {
  bool shadows = true;
  bool culling = true;
  bool particles = true;
  float orbitDegrees = 30.0f;      // camera around the centre, clockwise seen from above
  float elevationDegrees = 28.0f;  // camera above the floor's plane
  float parentDegrees = 0.0f;      // the carousel's turn
  double seconds = 0.0;            // scene time
  bool fixedStep = false;          // scene, particles and skin advance 1/60 s a frame
  Mesh* floor = nullptr;
  Mesh* box = nullptr;
  Mesh* sphere = nullptr;
  Mesh* torus = nullptr;
  Mesh* teapot = nullptr;
  Mesh* prop = nullptr;
  Mesh* carousel = nullptr;  // the rotating parent; the torus hangs below it
  Light* spot = nullptr;
  Light* fill = nullptr;
  ParticleEmitter* sparks = nullptr;
  ParticleEmitter* smoke = nullptr;
  AnimatedMesh* figure = nullptr;
  PrimitiveBuffer* frustum = nullptr;
};
extern ShowcaseState Showcase;

// The directory of the showcase's files: $SHOWCASE_ASSETS when set, else the repository's.
std::string ShowcaseAssetDirectory();

// Opens the window and builds the scene. 0 on success; otherwise the exit status, after one line
// on standard error naming what failed. Call ShowcaseShutdown afterwards in either case.
int ShowcaseStartup();
// One frame. False when the program should end (ESC or the close box).
bool ShowcaseFrame();
// Releases everything; returns the exit status (0).
int ShowcaseShutdown();

// Where the camera stands for the current orbit and elevation.
void ShowcaseCameraPosition(float* x, float* y, float* z);
