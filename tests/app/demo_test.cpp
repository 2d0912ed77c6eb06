// The program in-process, headless: start-up, the frame loop's key and close handling, the
// prompts, shutdown, and the one-line failures of start-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/demo.h"
#include "automation.h"
#include "engine/core/engine_state.h"
#include "engine/core/frame.h"
#include "runtime/window_service.h"
#include "support/font_root.h"

namespace {

struct Shape {
  double x, y, r;
  void* data;
};

void CollectShape(void* object, void* data) {
  auto* shape = static_cast<cpShape*>(object);
  const auto* circle = reinterpret_cast<const cpCircleShape*>(shape);
  static_cast<std::vector<Shape>*>(data)->push_back(
      {circle->tc.x, circle->tc.y, circle->r, cpShapeGetUserData(shape)});
}

std::vector<Shape> Shapes() {
  std::vector<Shape> shapes;
  cpSpaceHashEach(cpSpaceActiveShapes(Space), CollectShape, &shapes);
  return shapes;
}

std::vector<Shape> Balls() {
  std::vector<Shape> balls;
  for (const Shape& s : Shapes())
    if (s.r == 8.0) balls.push_back(s);
  return balls;
}

// Runs frames as the program does, at most `limit`; returns how many ran.
int RunFrames(int limit) {
  int frames = 0;
  while (frames < limit) {
    ++frames;
    if (!DemoFrame()) break;
  }
  return frames;
}

struct Program : ::testing::Test {
  static void SetUpTestSuite() { AutomationUseHeadless(); }
  void SetUp() override {
    AutomationReleaseAllKeys();
    AutomationClearFaults();
    ASSERT_EQ(DemoStartup(), 0);
    running = true;
    startupCount = BodyCount;
  }
  void TearDown() override {
    AutomationReleaseAllKeys();
    if (running) {
      EXPECT_EQ(DemoShutdown(), 0);
    }
  }
  bool running = false;
  int startupCount = 0;
};

using StartUp = Program;

TEST_F(StartUp, OpensTheWindowAndBuildsTheBannerAtRest) {
  EXPECT_NE(Engine.WindowHandle, nullptr);
  EXPECT_EQ(DemoStarted, 0);
  ASSERT_NE(Space, nullptr);
  EXPECT_GT(BodyCount, 3023);
  EXPECT_EQ(Shapes().size(), static_cast<size_t>(BodyCount));
  EXPECT_TRUE(Balls().empty());
}

TEST_F(StartUp, EscapeHeldAtStartPresentsExactlyOneFrame) {
  AutomationSetKey(kKeyEscape, true);
  const uint64_t presented = AutomationPresentCount();
  EXPECT_EQ(RunFrames(10), 1);
  EXPECT_EQ(AutomationPresentCount(), presented + 1);
}

using Keys = Program;

// Takes every pending window event, so that the next one a frame polls is the one a test posts.
void DrainWindowEvents() {
  for (int i = 0; i < 1000 && PollWindowEvent() != 0; ++i) {
  }
}

TEST_F(Keys, ACloseRequestEndsTheFrameBeforeSpaceIsSeen) {
  DrainWindowEvents();
  AutomationSetKey(kKeySpace, true);  // held for DirectInput; its key message is drained
  DrainWindowEvents();
  AutomationPostClose(Engine.WindowHandle);
  const uint64_t presented = AutomationPresentCount();
  EXPECT_FALSE(DemoFrame());
  EXPECT_EQ(LastWindowEvent, 16);
  EXPECT_EQ(DemoStarted, 0);
  EXPECT_EQ(DemoPrompt, nullptr);
  EXPECT_TRUE(Balls().empty());
  EXPECT_EQ(BodyCount, startupCount);
  EXPECT_EQ(AutomationPresentCount(), presented);
}

TEST_F(Keys, HoldingSpaceRestartsTheBallsEveryFrameAndKeepsTheCount) {
  AutomationSetKey(kKeySpace, true);
  const uint64_t presented = AutomationPresentCount();
  for (int frame = 0; frame < 5; ++frame) {
    ASSERT_TRUE(DemoFrame());
    EXPECT_EQ(DemoStarted, 1);
    EXPECT_EQ(BodyCount, startupCount);
    // Each frame the balls start over and fly exactly one frame (two sub-steps).
    std::vector<Shape> balls = Balls();
    ASSERT_EQ(balls.size(), 2u);
    if (balls[0].x > balls[1].x) std::swap(balls[0], balls[1]);
    EXPECT_DOUBLE_EQ(balls[0].x, -300.0 + 700.0 * kPhysicsStep + 700.0 * kPhysicsStep);
    EXPECT_DOUBLE_EQ(balls[0].y, 200.0 + 105.0 * kPhysicsStep + 105.0 * kPhysicsStep);
    EXPECT_DOUBLE_EQ(balls[1].x, 900.0 - 700.0 * kPhysicsStep - 700.0 * kPhysicsStep);
    EXPECT_DOUBLE_EQ(balls[1].y, 390.0 - 105.0 * kPhysicsStep - 105.0 * kPhysicsStep);
    EXPECT_EQ(balls[0].data, nullptr);
    EXPECT_EQ(balls[1].data, nullptr);
    EXPECT_EQ(Shapes().size(), static_cast<size_t>(BodyCount) + 2);
  }
  EXPECT_EQ(AutomationPresentCount(), presented + 5);

  // Released: the balls fly on from where they are.
  AutomationSetKey(kKeySpace, false);
  const double before = Balls()[0].x;
  ASSERT_TRUE(DemoFrame());
  EXPECT_NE(Balls()[0].x, before);
  EXPECT_EQ(BodyCount, startupCount);
}

TEST_F(Keys, WithoutSpaceNothingMoves) {
  const std::vector<Shape> before = Shapes();
  EXPECT_EQ(RunFrames(20), 20);
  const std::vector<Shape> after = Shapes();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].x, before[i].x);
    EXPECT_EQ(after[i].y, before[i].y);
  }
  EXPECT_EQ(DemoStarted, 0);
}

// The prompt as the frame's text pass receives it, read from the engine's queue just before the
// first pass of the frame runs.
std::vector<std::string> QueuedPrompts;
void WatchTextQueue(const char*) {
  std::string found;
  Engine.TextQueue.ForEach([&](TextCommand& command) {
    if (command.Y == 500) found = command.Text;
  });
  // Every pass of one frame sees the same queue: keep one entry per frame.
  if (!found.empty() && (QueuedPrompts.empty() || QueuedPrompts.back() != found))
    QueuedPrompts.push_back(found);
}

using Prompt = Program;

TEST_F(Prompt, SwitchesToTheRestartWordingTheFrameAfterTheFirstSpace) {
  SetFramePassObserver(WatchTextQueue);
  std::vector<std::string> shown;
  auto frame = [&] {
    QueuedPrompts.clear();
    ASSERT_TRUE(DemoFrame());
    ASSERT_EQ(QueuedPrompts.size(), 1u);
    shown.push_back(QueuedPrompts[0]);
    EXPECT_EQ(shown.back(), DemoPrompt);
  };
  frame();
  frame();
  AutomationSetKey(kKeySpace, true);
  frame();  // SPACE seen only after this frame's prompt was queued
  AutomationSetKey(kKeySpace, false);
  frame();
  frame();
  SetFramePassObserver(nullptr);
  const std::vector<std::string> expected = {kStartPrompt, kStartPrompt, kStartPrompt,
                                             kRestartPrompt, kRestartPrompt};
  EXPECT_EQ(shown, expected);
}

using Shutdown = Program;

TEST_F(Shutdown, FreesTheWorldAndAllowsAnotherRun) {
  AutomationSetKey(kKeySpace, true);
  ASSERT_TRUE(DemoFrame());
  AutomationSetKey(kKeySpace, false);
  EXPECT_EQ(DemoShutdown(), 0);
  running = false;
  EXPECT_EQ(Space, nullptr);
  EXPECT_EQ(LogoImage, 0);
  EXPECT_EQ(Engine.WindowHandle, nullptr);

  // A second run starts from scratch.
  ASSERT_EQ(DemoStartup(), 0);
  running = true;
  EXPECT_EQ(DemoStarted, 0);
  EXPECT_EQ(BodyCount, startupCount);
  EXPECT_TRUE(Balls().empty());
}

// Start-up failures: one line on standard error and exit status 1, never a loop without a
// window.
struct StartUpFailure : ::testing::Test {
  static void SetUpTestSuite() { AutomationUseHeadless(); }
  void TearDown() override {
    AutomationClearFaults();
    DemoShutdown();
  }
};

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST_F(StartUpFailure, NoDeviceNamesTheEngineErrorAndItsMeaning) {
  AutomationSetFault(AutomationFault::Direct3DCreate, true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DemoStartup(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("could not open the 640 x 640 window"), std::string::npos) << err;
  EXPECT_NE(err.find("engine error 2,"), std::string::npos) << err;
  EXPECT_NE(err.find("display"), std::string::npos) << err;
  EXPECT_EQ(CountLines(err), 1) << err;
  EXPECT_EQ(Space, nullptr);
}

TEST_F(StartUpFailure, NoBannerImageIsReported) {
  AutomationSetFault(AutomationFault::CreateDIBSection, true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DemoStartup(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("banner image"), std::string::npos) << err;
  EXPECT_EQ(CountLines(err), 1) << err;
  EXPECT_EQ(Engine.WindowHandle, nullptr);
}

TEST_F(StartUpFailure, AMissingBannerFontNamesItsPackageInsteadOfDrawingAnotherFace) {
  font_test::ScopedFontRoot root({"DejaVuSansMono.ttf"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(DemoStartup(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("DejaVuSansMono.ttf (DejaVu Sans Mono) is missing; install the Debian "
                     "package fonts-dejavu-core\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("tileburst: could not draw the banner"), std::string::npos) << err;
  EXPECT_EQ(CountLines(err), 2) << err;
  EXPECT_EQ(Space, nullptr);
}

TEST_F(StartUpFailure, AMissingDefaultFontFailsTheWindowWithTheFontsError) {
  font_test::ScopedFontRoot root({"DejaVuSans-Bold.ttf"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(DemoStartup(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("install the Debian package fonts-dejavu-core\n"), std::string::npos) << err;
  EXPECT_NE(err.find("engine error 10, the default font could not be created"), std::string::npos)
      << err;
  EXPECT_EQ(CountLines(err), 2) << err;
  EXPECT_EQ(Space, nullptr);
}

}  // namespace
