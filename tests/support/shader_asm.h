// Hand assembly of shader model 2 / 3 tokens for tests: each helper builds one token the way the
// Direct3D 9 shader code format lays it out.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "d3d9types.h"

namespace shader_asm {

constexpr DWORD kXyzw = 0xE4;  // identity swizzle
constexpr DWORD Swz(int x, int y, int z, int w) {
  return DWORD(x | (y << 2) | (z << 4) | (w << 6));
}
constexpr DWORD Rep(int c) {
  return Swz(c, c, c, c);
}

constexpr DWORD RegType(DWORD type) {
  return ((type << D3DSP_REGTYPE_SHIFT) & D3DSP_REGTYPE_MASK) |
         ((type << D3DSP_REGTYPE_SHIFT2) & D3DSP_REGTYPE_MASK2);
}
// Destination: register, write mask (bit 0 = x), result modifier (D3DSPDM_*).
constexpr DWORD Dst(DWORD type, DWORD index, DWORD mask = 0xF, DWORD mod = 0) {
  return 0x80000000u | RegType(type) | index | (mask << 16) | mod;
}
// Source: register, swizzle, modifier (D3DSPSM_*).
constexpr DWORD Src(DWORD type, DWORD index, DWORD swizzle = kXyzw, DWORD mod = 0) {
  return 0x80000000u | RegType(type) | index | (swizzle << D3DSP_SWIZZLE_SHIFT) | mod;
}
constexpr DWORD Ins(DWORD op, DWORD length, DWORD control = 0) {
  return op | (length << D3DSI_INSTLENGTH_SHIFT) | (control << 16);
}
inline DWORD Bits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}
constexpr DWORD DclUsage(DWORD usage, DWORD index = 0) {
  return 0x80000000u | usage | (index << D3DSP_DCL_USAGEINDEX_SHIFT);
}

// A token stream under construction.
struct Stream {
  std::vector<DWORD> t;
  explicit Stream(DWORD version) { t.push_back(version); }
  Stream& operator()(std::initializer_list<DWORD> tokens) {
    t.insert(t.end(), tokens);
    return *this;
  }
  Stream& Def(DWORD reg, float x, float y, float z, float w) {
    return (*this)(
        {Ins(D3DSIO_DEF, 5), Dst(D3DSPR_CONST, reg), Bits(x), Bits(y), Bits(z), Bits(w)});
  }
  Stream& Dcl(DWORD usage_token, DWORD dst) {
    return (*this)({Ins(D3DSIO_DCL, 2), usage_token, dst});
  }
  std::vector<DWORD> End() {
    std::vector<DWORD> out = t;
    out.push_back(D3DPS_END());
    return out;
  }
};

}  // namespace shader_asm
