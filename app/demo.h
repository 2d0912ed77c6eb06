// The TileBurst demo: its globals, the physics world built from the banner image, and the
// program's start-up, frame and shutdown, so that tests and tools drive exactly what the program
// runs (app/main.cpp only calls DemoStartup, DemoFrame and DemoShutdown).
#pragma once

#include <cstdint>

#include "app/chipmunk53.h"

struct Sprite;

// --- Globals -----------------------------------------------------------------------------------
constexpr int kPaletteSize = 5;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 640;
constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 70;

// The physics world; null when none exists.
extern cpSpace* Space;
// Banner bodies built since the last reset (the balls are not counted).
extern int32_t BodyCount;
// One sprite per banner pixel value 0..4 (0: the grid); entries stay null until the palette is
// built.
extern Sprite* Palette[kPaletteSize];
// 0 until SPACE is first seen, then 1.
extern int32_t DemoStarted;
// The code of this frame's window event.
extern int32_t LastWindowEvent;

// --- The physics world -----------------------------------------------------------------------------
// One sub-step: 1/60 s rounded to single precision and widened, as the demo has always stepped.
constexpr double kPhysicsStep = static_cast<double>(static_cast<float>(1.0 / 60.0));
// Where AddBlock puts banner coordinate (0, 0).
constexpr double kBannerCentreX = 320.0;
constexpr double kBannerCentreY = 300.0;

// Creates Space (no bodies). Call only when no world exists. Returns false, leaving Space null,
// if the library could not allocate it.
bool InitPhysics();
// Frees every body and shape in Space, then Space itself. Does nothing when no world exists.
void FreePhysics();
// One banner body per lit or grid pixel of the banner image, walked bottom row first, right to
// left. Does nothing without a world or an image that can be drawn on.
void BuildLogo();
// One banner body at (x + 320, y + 300) carrying `sprite`; returns its shape, null without a
// world.
cpShape* AddBlock(int32_t x, int32_t y, Sprite* sprite);
// One heavy, invisible ball at (x, y) moving at (vx, vy). Does nothing without a world.
void AddBall(int32_t x, int32_t y, int32_t vx, int32_t vy);
// Advances Space by two sub-steps of kPhysicsStep. Does nothing without a world.
void StepPhysics();
