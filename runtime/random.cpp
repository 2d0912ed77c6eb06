// One xoshiro256** generator for the whole program. Its output is fixed by its seed on every
// machine, and ranges are taken by rejection, so a seeded run draws the same numbers everywhere.
#include "runtime/random.h"

#include "windows.h"

namespace {

struct Generator {
  uint64_t state[4];
  bool seeded;
};
Generator generator;

uint64_t SplitMix(uint64_t* x) {
  uint64_t z = (*x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t Rotate(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

uint64_t NextBits() {
  if (!generator.seeded) {
    SeedRandom((static_cast<uint64_t>(GetCurrentThreadId()) << 32) ^ GetTickCount64());
  }
  uint64_t* s = generator.state;
  const uint64_t result = Rotate(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = Rotate(s[3], 45);
  return result;
}

}  // namespace

void SeedRandom(uint64_t seed) {
  // SplitMix spreads any seed, 0 included, over a state that is never all zero.
  for (uint64_t& word : generator.state) word = SplitMix(&seed);
  generator.seeded = true;
}

int32_t RandomInteger(int32_t low, int32_t high) {
  if (low > high) {
    const int32_t t = low;
    low = high;
    high = t;
  }
  const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
  // The largest multiple of span that fits in 64 bits; draws at or above it are redrawn, so
  // every value of the range is equally likely.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % span;
  uint64_t bits;
  do {
    bits = NextBits();
  } while (bits >= limit);
  return static_cast<int32_t>(static_cast<int64_t>(low) + static_cast<int64_t>(bits % span));
}
