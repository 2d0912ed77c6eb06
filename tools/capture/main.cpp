// capture: runs the demo exactly as the program does, headless, with scripted keys, and writes
// chosen frames as PNG files plus one contact sheet of them.
//
//   capture [--out DIR] [STEP...]
//
// Steps run in order: a number N runs N frames; "space" holds SPACE for one frame; "esc" holds
// ESC for one frame (the demo then ends); "shot:NAME" writes the last presented frame as
// DIR/NAME.png. Without steps: the banner at rest, then SPACE and three frames of the smash.
// The contact sheet DIR/contact.png shows every shot at half size, side by side.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/demo.h"
#include "automation.h"

namespace {

struct Shot {
  std::string name;
  AutomationFrame frame;
};

int Usage() {
  std::fprintf(stderr, "usage: capture [--out DIR] [N | space | esc | shot:NAME]...\n");
  return 2;
}

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
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--out") {
      if (++i >= argc) return Usage();
      out = argv[i];
    } else if (arg == "--help" || arg == "-h") {
      return Usage();
    } else {
      steps.push_back(arg);
    }
  }
  if (steps.empty()) {
    steps = {"3",  "shot:banner",    "space", "6", "shot:smash-early", "12", "shot:smash-mid",
             "30", "shot:smash-late"};
  }

  AutomationUseHeadless();
  int status = DemoStartup();
  if (status != 0) {
    DemoShutdown();
    return status;
  }
  std::vector<Shot> shots;
  bool running = true;
  for (const std::string& step : steps) {
    if (!running) break;
    if (step == "space" || step == "esc") {
      const int key = step == "space" ? kKeySpace : kKeyEscape;
      AutomationSetKey(key, true);
      running = DemoFrame();
      AutomationSetKey(key, false);
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
        DemoShutdown();
        return Usage();
      }
      for (long f = 0; f < frames && running; ++f) running = DemoFrame();
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
  const int shutdown = DemoShutdown();
  return status != 0 ? status : shutdown;
}
