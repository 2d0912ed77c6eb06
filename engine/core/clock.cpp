// The engine's clock.
#include "engine/core/clock.h"

#include "windows.h"

int64_t ReadSystemTime() {
  ULONGLONG now = 0;
  QueryInterruptTime(&now);
  return static_cast<int64_t>(now);
}
