// capture: runs the demo (or, with --showcase, the 3D showcase) exactly as the program does,
// headless, with scripted keys, and writes chosen frames as PNG files plus one contact sheet.
//
//   capture [--showcase] [--out DIR] [STEP...]
//
// Steps run in order: a number N runs N frames; a key name (space, esc, s, c, p, left, right, up,
// down) holds that key for one frame; "hold:KEY:N" holds it for N frames; "shot:NAME" writes the
// last presented frame as DIR/NAME.png. Without steps: for the demo, the banner at rest, then
// SPACE and three frames of the smash; for the showcase, its scene, the camera turned, and the
// scene without shadows. The showcase advances 1/60 s a frame, so its shots do not depend on the
// machine's speed. The contact sheet DIR/contact.png shows every shot at half size, side by side.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/demo.h"
#include "automation.h"
#include "runtime/random.h"
#include "showcase/showcase.h"

namespace {

struct Shot {
  std::string name;
  AutomationFrame frame;
};

int Usage() {
  std::fprintf(stderr,
               "usage: capture [--showcase] [--out DIR] [N | KEY | hold:KEY:N | shot:NAME]...\n");
  return 2;
}

// DirectInput scan codes of the keys a step may name; 0 for another word.
int KeyCode(const std::string& name) {
  static const struct {
    const char* name;
    int code;
  } kKeys[] = {
      {"space", kKeySpace},         {"esc", kKeyEscape},          {"s", kShowcaseKeyShadows},
      {"c", kShowcaseKeyCulling},   {"p", kShowcaseKeyParticles}, {"left", kShowcaseKeyLeft},
      {"right", kShowcaseKeyRight}, {"up", kShowcaseKeyUp},       {"down", kShowcaseKeyDown}};
  for (const auto& k : kKeys)
    if (name == k.name) return k.code;
  return 0;
}

// The program being captured.
struct Program {
  int (*startup)();
  bool (*frame)();
  int (*shutdown)();
};

// Shots side by side at half size (2 x 2 box average), on black.
AutomationFrame ContactSheet(const std::vector<Shot>& shots) {
  AutomationFrame sheet;
  for (const Shot& s : shots) {
    sheet.width += s.frame.width / 2;
    if (s.frame.height / 2 > sheet.height) sheet.height = s.frame.height / 2;
  }
  sheet.pixels.assign(static_cast<size_t>(sheet.width) * sheet.height, 0xFF000000u);
  int left = 0;
  for (const Shot& s : shots) {
    const int w = s.frame.width / 2, h = s.frame.height / 2;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        unsigned sum[3] = {0, 0, 0};
        for (int k = 0; k < 4; ++k) {
          uint32_t p =
              s.frame.pixels[static_cast<size_t>(2 * y + k / 2) * s.frame.width + 2 * x + k % 2];
          for (int c = 0; c < 3; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
        }
        sheet.pixels[static_cast<size_t>(y) * sheet.width + left + x] =
            0xFF000000u | ((sum[2] / 4) << 16) | ((sum[1] / 4) << 8) | (sum[0] / 4);
      }
    }
    left += w;
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = ".";
  std::vector<std::string> steps;
  bool showcase = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--out") {
      if (++i >= argc) return Usage();
      out = argv[i];
    } else if (arg == "--showcase") {
      showcase = true;
    } else if (arg == "--help" || arg == "-h") {
      return Usage();
    } else {
      steps.push_back(arg);
    }
  }
  if (steps.empty() && showcase) {
    steps = {"90", "shot:showcase",           "hold:left:40", "20", "shot:showcase-turned", "s",
             "1",  "shot:showcase-no-shadows"};
  } else if (steps.empty()) {
    steps = {"3",  "shot:banner",    "space", "6", "shot:smash-early", "12", "shot:smash-mid",
             "30", "shot:smash-late"};
  }
  const Program program = showcase ? Program{ShowcaseStartup, ShowcaseFrame, ShowcaseShutdown}
                                   : Program{DemoStartup, DemoFrame, DemoShutdown};

  AutomationUseHeadless();
  // A fixed seed and a fixed step: the same frames on every run and machine.
  SeedRandom(1);
  Showcase.fixedStep = true;
  int status = program.startup();
  if (status != 0) {
    program.shutdown();
    return status;
  }
  std::vector<Shot> shots;
  bool running = true;
  for (const std::string& step : steps) {
    if (!running) break;
    if (const int key = KeyCode(step); key != 0) {
      AutomationSetKey(key, true);
      running = program.frame();
      AutomationSetKey(key, false);
    } else if (step.rfind("hold:", 0) == 0) {
      const size_t colon = step.find(':', 5);
      const int held = colon == std::string::npos ? 0 : KeyCode(step.substr(5, colon - 5));
      char* end = nullptr;
      const long frames = held == 0 ? -1 : std::strtol(step.c_str() + colon + 1, &end, 10);
      if (frames < 0 || end == nullptr || *end != '\0') {
        program.shutdown();
        return Usage();
      }
      AutomationSetKey(held, true);
      for (long f = 0; f < frames && running; ++f) running = program.frame();
      AutomationSetKey(held, false);
    } else if (step.rfind("shot:", 0) == 0) {
      Shot shot{step.substr(5), {}};
      if (shot.name.empty() || !AutomationLastPresentedFrame(&shot.frame)) {
        std::fprintf(stderr, "capture: nothing to write for '%s'\n", step.c_str());
        status = 1;
        continue;
      }
      const std::string path = out + "/" + shot.name + ".png";
      if (!AutomationWritePng(shot.frame, path.c_str())) {
        std::fprintf(stderr, "capture: cannot write %s\n", path.c_str());
        status = 1;
        continue;
      }
      std::printf("%s\n", path.c_str());
      shots.push_back(std::move(shot));
    } else {
      char* end = nullptr;
      long frames = std::strtol(step.c_str(), &end, 10);
      if (end == step.c_str() || *end != '\0' || frames < 0) {
        program.shutdown();
        return Usage();
      }
      for (long f = 0; f < frames && running; ++f) running = program.frame();
    }
  }
  if (!shots.empty()) {
    const std::string path = out + "/contact.png";
    if (AutomationWritePng(ContactSheet(shots), path.c_str())) {
      std::printf("%s\n", path.c_str());
    } else {
      status = 1;
    }
  }
  const int shutdown = program.shutdown();
  return status != 0 ? status : shutdown;
}
