// Small conversions the scene passes share.
#pragma once

#include <cstdint>
#include <cstring>

#include "windows.h"

// A float render state travels as its 32-bit pattern.
inline DWORD FloatState(float value) {
  DWORD bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

// Whether any bit of a float is set: switches stored as floats count -0.0 as set.
inline bool AnyBitSet(float value) {
  return FloatState(value) != 0;
}
