// Fault table, manual clock and PNG frames of the automation interface; the other automation
// calls live beside the platform module they drive.
#include "automation.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "d3dx9/image_codec.h"

namespace {
std::array<std::atomic<bool>, static_cast<size_t>(AutomationFault::Count)> g_faults{};
bool g_manualClock = false;
uint64_t g_clock = 0;
}  // namespace

void AutomationUseHeadless() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
}

void AutomationSetFault(AutomationFault fault, bool active) {
  size_t i = static_cast<size_t>(fault);
  if (i < g_faults.size()) g_faults[i] = active;
}

bool AutomationFaultActive(AutomationFault fault) {
  size_t i = static_cast<size_t>(fault);
  return i < g_faults.size() && g_faults[i];
}

void AutomationClearFaults() {
  for (auto& f : g_faults) f = false;
}

void AutomationUseManualClock(uint64_t start100ns) {
  g_manualClock = true;
  g_clock = start100ns;
}

void AutomationAdvanceClock(uint64_t delta100ns) {
  g_clock += delta100ns;
}

void AutomationUseRealClock() {
  g_manualClock = false;
}

bool AutomationManualClockTime(uint64_t* time) {
  if (!g_manualClock) return false;
  *time = g_clock;
  return true;
}

// Written by the one PNG encoder, D3DX's.
bool AutomationWritePng(const AutomationFrame& frame, const char* path) {
  if (!path || frame.width <= 0 || frame.height <= 0 ||
      frame.pixels.size() < static_cast<size_t>(frame.width) * frame.height)
    return false;
  d3dx::ArgbImage image;
  image.width = static_cast<uint32_t>(frame.width);
  image.height = static_cast<uint32_t>(frame.height);
  image.pixels.assign(frame.pixels.begin(),
                      frame.pixels.begin() + static_cast<ptrdiff_t>(frame.width) * frame.height);
  std::vector<uint8_t> bytes;
  if (!d3dx::EncodePng(image, false, &bytes)) return false;
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}
