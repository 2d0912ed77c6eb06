// The TileBurst demo: its globals, the physics world built from the banner image, and the
// program's start-up, frame and shutdown, so that tests and tools drive exactly what the program
// runs (app/main.cpp only calls DemoStartup, DemoFrame and DemoShutdown).
#pragma once

#include <cstdint>

#include "app/chipmunk53.h"
#include "runtime/raster_image.h"

struct Sprite;

// --- Globals -----------------------------------------------------------------------------------
constexpr int kPaletteSize = 5;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 640;
constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 70;

// The 180 x 70 banner image the bodies are built from (a handle of the runtime's "any" images;
// 0 until start-up creates it).
extern RuntimeId LogoImage;
// The physics world; null when none exists.
extern cpSpace* Space;
// Banner bodies built since the last reset (the balls are not counted).
extern int32_t BodyCount;
// One sprite per banner pixel value 0..4 (0: the grid); null until BuildPalette fills them.
extern Sprite* Palette[kPaletteSize];
// 0 until SPACE is first seen, then 1.
extern int32_t DemoStarted;
// The code of this frame's window event.
extern int32_t LastWindowEvent;

// --- The physics world ---------------------------------------------------------------------------
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
// One banner body per lit or grid pixel of LogoImage, walked bottom row first, right to left;
// BodyCount counts them. A pixel value outside 0..4 (which the banner never holds) is built as a
// grid-coloured body, with Palette[0]. Does nothing without a world, or when LogoImage cannot be
// drawn on (for instance while another drawing is open).
void BuildLogo();
// One banner body at (x + 320, y + 300) carrying `sprite`; returns its shape, null without a
// world.
cpShape* AddBlock(int32_t x, int32_t y, Sprite* sprite);
// One heavy, invisible ball at (x, y) moving at (vx, vy). Does nothing without a world.
void AddBall(int32_t x, int32_t y, int32_t vx, int32_t vy);
// Advances Space by two sub-steps of kPhysicsStep. Does nothing without a world.
void StepPhysics();

// --- The program ---------------------------------------------------------------------------------
constexpr const char kDemoTitle[] = "Kestrelwing Demo: TileBurst";
// Caption with a system menu (close box only), centred on the screen.
constexpr int kDemoWindowFlags = 0x00C80001;
constexpr int kKeySpace = 0x39;
constexpr int kKeyEscape = 0x01;
constexpr const char kStartPrompt[] = "Press SPACE to start this demo!";
constexpr const char kRestartPrompt[] = "Press SPACE to restart this demo!";

// The prompt queued by the last frame (null before the first frame).
extern const char* DemoPrompt;

// Start-up: the banner image, the window, the banner drawing, the palette, the world and the
// background. 0 on success; otherwise the exit status, after one line on standard error saying
// what failed. Call DemoShutdown afterwards in either case.
int DemoStartup();
// One frame of the loop. False when the program should end: a close request (nothing else is
// done in that frame), ESC held after the frame was presented, or a world that could not be
// rebuilt.
bool DemoFrame();
// Frees the world and releases everything the engine and the runtime hold, so that start-up can
// run again in the same process. Returns the program's exit status: 0, or 1 after a frame that
// failed.
int DemoShutdown();

// Opens font 1 (Lucida Console, 10 points, bold, proof quality) and draws the four banner lines
// into LogoImage in the colours 1 to 4. False, with nothing drawn, if the font cannot be opened
// (its files are not installed) or LogoImage cannot be drawn on.
bool DrawBanner();

// --- Palette, body drawing and background (app/palette.cpp, app/background.cpp) ------------------
// Makes the five plus-shaped palette sprites and fills Palette; run once at start-up.
void BuildPalette();
// Queues one sprite draw per body that carries a palette sprite.
void DrawShapes();
// Queues the heads-up line with the frame rate and BodyCount.
void DrawHud();
// Fills the background texture with the shader and stretches it over the window; run once at
// start-up.
void PrepareBackground();
