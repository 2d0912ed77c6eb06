// The runtime's random numbers: uniform integers over an inclusive range from one generator,
// seeded once at first use from the thread identifier and the tick count.
#pragma once

#include <cstdint>

// A uniform integer in low..high, both included (the bounds may come in either order).
int32_t RandomInteger(int32_t low, int32_t high);
// Seeds the generator (ours, for tests and tools): the same seed gives the same sequence.
void SeedRandom(uint64_t seed);
