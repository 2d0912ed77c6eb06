// The engine's clock: the system interrupt time, read by the frame timing and by engine start.
#pragma once

#include <cstdint>

// The system interrupt time in 100 ns units.
int64_t ReadSystemTime();
