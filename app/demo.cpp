// The program: start-up, one frame of the loop, shutdown.
#include <cstdio>

#include "app/demo.h"
#include "engine/core/engine_state.h"
#include "engine/core/frame.h"
#include "engine/core/input.h"
#include "engine/core/screen.h"
#include "engine/core/text_overlay.h"
#include "runtime/runtime.h"

int32_t DemoStarted = 0;
int32_t LastWindowEvent = 0;
const char* DemoPrompt = nullptr;

namespace {

constexpr int kPromptX = 200;
constexpr int kPromptY = 500;

// Exit status for a frame that could not go on (0 while all is well).
int FrameFailure = 0;

// What an engine set-up error number means, for the one line printed when the window cannot be
// opened.
const char* EngineErrorMeaning(int error) {
  switch (error) {
    case kEngineNoDevice:
      return "the Direct3D device could not be created (is a display available?)";
    case kEngineNoDepthBuffer:
      return "no 16-bit depth buffer, or DirectInput is unavailable";
    case kEngineBackBufferFormat:
      return "the display's back-buffer format is not supported";
    case kEngineDisplayAdapter:
      return "the display adapter could not be queried (is a display available?)";
    case kEngineDeviceSetupRefused:
      return "device set-up was refused";
    case kEngineModeMatch:
      return "no display mode matches";
    case kEngineColourDepth:
      return "the colour depth is not supported";
    case kEngineSoundCooperative:
      return "DirectSound refused exclusive use";
    case kEngineDefaultFont:
      return "the default font could not be created";
    case kEngineDeviceCaps:
      return "the device capabilities could not be read";
    case kEngineAlreadyOpen:
      return "the engine window is already open";
    default:
      return "unknown engine error";
  }
}

void ReportFailure(const char* what) {
  std::fprintf(stderr, "tileburst: %s\n", what);
}

}  // namespace

int DemoStartup() {
  DemoStarted = 0;
  LastWindowEvent = 0;
  DemoPrompt = nullptr;
  BodyCount = 0;
  FrameFailure = 0;
  for (Sprite*& entry : Palette) entry = nullptr;

  LogoImage = NewRasterImage(kAnyObject, kLogoWidth, kLogoHeight, 24);
  if (LogoImage == 0) {
    ReportFailure("could not create the 180 x 70 banner image");
    return 1;
  }

  const int screen = OpenScreen(0, 0, kWindowWidth, kWindowHeight, kDemoTitle, kDemoWindowFlags);
  if (screen != kEngineOk) {
    std::fprintf(stderr, "tileburst: could not open the %d x %d window: engine error %d, %s\n",
                 kWindowWidth, kWindowHeight, screen, EngineErrorMeaning(screen));
    return 1;
  }
  SetFrameSync(0);

  if (!DrawBanner()) {
    ReportFailure("could not draw the banner: its font or its image is unavailable");
    return 1;
  }

  BuildPalette();

  if (!InitPhysics()) {
    ReportFailure("the physics library could not allocate the world (out of memory)");
    return 1;
  }
  BuildLogo();

  PrepareBackground();
  return 0;
}

bool DemoFrame() {
  LastWindowEvent = PollWindowEvent();
  if (LastWindowEvent == kWindowEventClose) return false;

  // Queued before SPACE is tested: the restart wording shows from the frame after the first SPACE.
  DemoPrompt = DemoStarted == 1 ? kRestartPrompt : kStartPrompt;
  DrawText(kPromptX, kPromptY, DemoPrompt);

  if (KeyDown(kKeySpace)) {
    DemoStarted = 1;
    FreePhysics();
    if (!InitPhysics()) {
      ReportFailure("the physics library could not allocate the world (out of memory)");
      FrameFailure = 1;
      return false;
    }
    BodyCount = 0;
    BuildLogo();
    AddBall(-300, 200, 700, 105);
    AddBall(900, 390, -700, -105);
  }

  StepPhysics();
  DrawShapes();
  DrawHud();

  RenderWorld();
  Flip();

  return !KeyDown(kKeyEscape);
}

int DemoShutdown() {
  FreePhysics();
  EngineShutdown();
  EndRuntime();
  LogoImage = 0;
  const int status = FrameFailure;
  FrameFailure = 0;
  return status;
}
