// Fault table and manual clock of the automation interface; the other automation calls live
// beside the platform module they drive.
#include "automation.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>

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

// The interrupt time of Windows: a monotonic count of 100 ns units.
void QueryInterruptTime(PULONGLONG time) {
  if (!time) return;
  if (g_manualClock) {
    *time = g_clock;
    return;
  }
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  *time = static_cast<ULONGLONG>(ns / 100);
}
