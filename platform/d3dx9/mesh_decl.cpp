// Vertex declarations for meshes: FVF codes to declarations and back, element sizes, and the
// conversion of one element type into another that CloneMesh needs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "d3dx9/mesh.h"
#include "d3dx9mesh.h"

namespace d3dx_mesh {

namespace {

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

bool IsEnd(const D3DVERTEXELEMENT9& e) {
  return e.Stream == 0xFF;
}

// Element type of n floats (n = 1..4).
BYTE FloatType(UINT n) {
  return static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + (n - 1));
}

// Components of the FVF texture coordinate set `i`.
UINT TexCoordComponents(DWORD fvf, UINT i) {
  switch ((fvf >> (16 + 2 * i)) & 3) {
    case D3DFVF_TEXTUREFORMAT1:
      return 1;
    case D3DFVF_TEXTUREFORMAT3:
      return 3;
    case D3DFVF_TEXTUREFORMAT4:
      return 4;
    default:
      return 2;
  }
}

// The declaration of an FVF code, without the end marker; false for a code that has none.
bool FvfElements(DWORD fvf, D3DVERTEXELEMENT9* out, UINT* count) {
  if (fvf & (D3DFVF_RESERVED0 | 0x2000)) return false;
  const DWORD lastBeta = fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR);
  if (lastBeta == (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) return false;
  const UINT texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (texCount > 8) return false;

  UINT n = 0;
  WORD offset = 0;
  auto add = [&](BYTE type, BYTE usage, BYTE index) {
    out[n++] = D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
    offset = static_cast<WORD>(offset + DeclTypeSize(type));
  };
  const DWORD position = fvf & D3DFVF_POSITION_MASK;
  UINT blend = 0;  // values after the position in an XYZBn code
  switch (position) {
    case 0:
      break;
    case D3DFVF_XYZ:
      add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
      break;
    case D3DFVF_XYZW:
      add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0);
      break;
    case D3DFVF_XYZRHW:
      add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0);
      break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
      blend = (position - D3DFVF_XYZB1) / 2 + 1;
      add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
      break;
    default:
      return false;
  }
  if (lastBeta && blend == 0) return false;
  if (blend) {
    const UINT weights = lastBeta ? blend - 1 : blend;
    if (weights > 4) return false;  // five weights fit no element type
    if (weights) add(FloatType(weights), D3DDECLUSAGE_BLENDWEIGHT, 0);
    if (lastBeta == D3DFVF_LASTBETA_UBYTE4) add(D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0);
    if (lastBeta == D3DFVF_LASTBETA_D3DCOLOR)
      add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES, 0);
  }
  if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
  if (fvf & D3DFVF_PSIZE) add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
  if (fvf & D3DFVF_DIFFUSE) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
  if (fvf & D3DFVF_SPECULAR) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
  for (UINT i = 0; i < texCount; ++i)
    add(FloatType(TexCoordComponents(fvf, i)), D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i));
  *count = n;
  return true;
}

float Clamp(float v, float lo, float hi) {
  if (!(v > lo)) return lo;  // also NaN
  return v < hi ? v : hi;
}

uint32_t RoundUnsigned(float v, float max) {
  return static_cast<uint32_t>(Clamp(v, 0.0f, max) + 0.5f);
}

int32_t RoundSigned(float v, float lo, float hi) {
  return static_cast<int32_t>(std::lround(Clamp(v, lo, hi)));
}

float HalfToFloat(uint16_t h) {
  const uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  float v;
  if (exponent == 0)
    v = std::ldexp(static_cast<float>(mantissa), -24);
  else if (exponent == 31)
    v = mantissa ? NAN : INFINITY;
  else
    v = std::ldexp(static_cast<float>(mantissa | 0x400), static_cast<int>(exponent) - 25);
  return sign ? -v : v;
}

uint16_t FloatToHalf(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  if (std::isnan(f)) return static_cast<uint16_t>(sign | 0x7E00);
  const float a = std::fabs(f);
  if (a >= 65520.0f) return static_cast<uint16_t>(sign | 0x7C00);  // rounds past the largest
  if (a < std::ldexp(1.0f, -25)) return sign;
  int exponent;
  std::frexp(a, &exponent);  // a = m * 2^exponent, m in [0.5, 1)
  if (exponent < -13) {      // subnormal: steps of 2^-24
    return static_cast<uint16_t>(sign | static_cast<uint16_t>(std::nearbyint(std::ldexp(a, 24))));
  }
  // Normal: 11 significant bits; rounding may carry into the exponent, which the sum absorbs.
  const uint32_t significand = static_cast<uint32_t>(std::nearbyint(std::ldexp(a, 11 - exponent)));
  const uint32_t biased = static_cast<uint32_t>(exponent + 14);
  return static_cast<uint16_t>(sign | ((biased << 10) + (significand - 0x400)));
}

}  // namespace

UINT DeclTypeSize(BYTE type) {
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
    case D3DDECLTYPE_FLOAT16_2:
      return 4;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4:
      return 8;
    case D3DDECLTYPE_FLOAT3:
      return 12;
    case D3DDECLTYPE_FLOAT4:
      return 16;
    default:
      return 0;
  }
}

void DecodeElement(BYTE type, const BYTE* src, float out[4]) {
  out[0] = out[1] = out[2] = 0.0f;
  out[3] = 1.0f;
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
      std::memcpy(out, src, DeclTypeSize(type));
      break;
    case D3DDECLTYPE_D3DCOLOR: {
      uint32_t c;
      std::memcpy(&c, src, 4);
      out[0] = ((c >> 16) & 0xFF) / 255.0f;
      out[1] = ((c >> 8) & 0xFF) / 255.0f;
      out[2] = (c & 0xFF) / 255.0f;
      out[3] = (c >> 24) / 255.0f;
      break;
    }
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N: {
      const float scale = type == D3DDECLTYPE_UBYTE4N ? 1.0f / 255.0f : 1.0f;
      for (int i = 0; i < 4; ++i) out[i] = src[i] * scale;
      break;
    }
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N: {
      const int n = (type == D3DDECLTYPE_SHORT2 || type == D3DDECLTYPE_SHORT2N) ? 2 : 4;
      const bool normalised = type == D3DDECLTYPE_SHORT2N || type == D3DDECLTYPE_SHORT4N;
      for (int i = 0; i < n; ++i) {
        int16_t s;
        std::memcpy(&s, src + 2 * i, 2);
        out[i] = normalised ? std::max(s / 32767.0f, -1.0f) : static_cast<float>(s);
      }
      break;
    }
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N: {
      const int n = type == D3DDECLTYPE_USHORT2N ? 2 : 4;
      for (int i = 0; i < n; ++i) {
        uint16_t s;
        std::memcpy(&s, src + 2 * i, 2);
        out[i] = s / 65535.0f;
      }
      break;
    }
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N: {
      uint32_t v;
      std::memcpy(&v, src, 4);
      for (int i = 0; i < 3; ++i) {
        const uint32_t bits = (v >> (10 * i)) & 0x3FF;
        if (type == D3DDECLTYPE_UDEC3) {
          out[i] = static_cast<float>(bits);
        } else {
          const int s = bits >= 512 ? static_cast<int>(bits) - 1024 : static_cast<int>(bits);
          out[i] = std::max(s / 511.0f, -1.0f);
        }
      }
      break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4: {
      const int n = type == D3DDECLTYPE_FLOAT16_2 ? 2 : 4;
      for (int i = 0; i < n; ++i) {
        uint16_t h;
        std::memcpy(&h, src + 2 * i, 2);
        out[i] = HalfToFloat(h);
      }
      break;
    }
    default:
      break;
  }
}

void EncodeElement(BYTE type, const float in[4], BYTE* dst) {
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
      std::memcpy(dst, in, DeclTypeSize(type));
      break;
    case D3DDECLTYPE_D3DCOLOR: {
      const uint32_t c = (RoundUnsigned(in[3] * 255.0f, 255.0f) << 24) |
                         (RoundUnsigned(in[0] * 255.0f, 255.0f) << 16) |
                         (RoundUnsigned(in[1] * 255.0f, 255.0f) << 8) |
                         RoundUnsigned(in[2] * 255.0f, 255.0f);
      std::memcpy(dst, &c, 4);
      break;
    }
    case D3DDECLTYPE_UBYTE4:
      for (int i = 0; i < 4; ++i) dst[i] = static_cast<BYTE>(RoundUnsigned(in[i], 255.0f));
      break;
    case D3DDECLTYPE_UBYTE4N:
      for (int i = 0; i < 4; ++i) dst[i] = static_cast<BYTE>(RoundUnsigned(in[i] * 255.0f, 255.0f));
      break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N: {
      const int n = (type == D3DDECLTYPE_SHORT2 || type == D3DDECLTYPE_SHORT2N) ? 2 : 4;
      const bool normalised = type == D3DDECLTYPE_SHORT2N || type == D3DDECLTYPE_SHORT4N;
      for (int i = 0; i < n; ++i) {
        const int16_t s =
            static_cast<int16_t>(normalised ? RoundSigned(in[i] * 32767.0f, -32767, 32767)
                                            : RoundSigned(in[i], -32768, 32767));
        std::memcpy(dst + 2 * i, &s, 2);
      }
      break;
    }
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N: {
      const int n = type == D3DDECLTYPE_USHORT2N ? 2 : 4;
      for (int i = 0; i < n; ++i) {
        const uint16_t s = static_cast<uint16_t>(RoundUnsigned(in[i] * 65535.0f, 65535.0f));
        std::memcpy(dst + 2 * i, &s, 2);
      }
      break;
    }
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N: {
      uint32_t v = 0;
      for (int i = 0; i < 3; ++i) {
        const uint32_t bits =
            type == D3DDECLTYPE_UDEC3
                ? RoundUnsigned(in[i], 1023.0f)
                : static_cast<uint32_t>(RoundSigned(in[i] * 511.0f, -511, 511)) & 0x3FF;
        v |= bits << (10 * i);
      }
      std::memcpy(dst, &v, 4);
      break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4: {
      const int n = type == D3DDECLTYPE_FLOAT16_2 ? 2 : 4;
      for (int i = 0; i < n; ++i) {
        const uint16_t h = FloatToHalf(in[i]);
        std::memcpy(dst + 2 * i, &h, 2);
      }
      break;
    }
    default:
      break;
  }
}

const D3DVERTEXELEMENT9* FindElement(const D3DVERTEXELEMENT9* decl, BYTE usage, BYTE usageIndex) {
  if (!decl) return nullptr;
  for (UINT i = 0; i < MAXD3DDECLLENGTH && !IsEnd(decl[i]); ++i)
    if (decl[i].Usage == usage && decl[i].UsageIndex == usageIndex) return &decl[i];
  return nullptr;
}

bool CheckMeshDeclaration(const D3DVERTEXELEMENT9* decl, UINT* length, UINT* stride) {
  if (!decl) return false;
  UINT n = 0;
  UINT size = 0;
  for (; n < MAXD3DDECLLENGTH && !IsEnd(decl[n]); ++n) {
    const D3DVERTEXELEMENT9& e = decl[n];
    if (e.Stream != 0 || e.Type >= D3DDECLTYPE_UNUSED || e.Method != D3DDECLMETHOD_DEFAULT ||
        e.Usage > MAXD3DDECLUSAGE || e.UsageIndex > MAXD3DDECLUSAGEINDEX || e.Offset % 4 != 0 ||
        e.Usage == D3DDECLUSAGE_POSITIONT)
      return false;
    for (UINT j = 0; j < n; ++j)
      if (decl[j].Usage == e.Usage && decl[j].UsageIndex == e.UsageIndex) return false;
    size = std::max(size, static_cast<UINT>(e.Offset) + DeclTypeSize(e.Type));
  }
  if (!IsEnd(decl[n]) || size == 0) return false;
  *length = n;
  *stride = size;
  return true;
}

bool SameDeclaration(const D3DVERTEXELEMENT9* a, const D3DVERTEXELEMENT9* b) {
  for (UINT i = 0; i <= MAXD3DDECLLENGTH; ++i) {
    if (a[i].Stream != b[i].Stream || a[i].Offset != b[i].Offset || a[i].Type != b[i].Type ||
        a[i].Method != b[i].Method || a[i].Usage != b[i].Usage ||
        a[i].UsageIndex != b[i].UsageIndex)
      return false;
    if (IsEnd(a[i])) return true;
  }
  return false;
}

}  // namespace d3dx_mesh

using d3dx_mesh::DeclTypeSize;

HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]) {
  if (!pDeclarator) return D3DERR_INVALIDCALL;
  D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
  UINT n = 0;
  if (!d3dx_mesh::FvfElements(FVF, elements, &n)) return D3DERR_INVALIDCALL;
  elements[n] = d3dx_mesh::kEnd;
  std::copy(elements, elements + n + 1, pDeclarator);
  return D3D_OK;
}

HRESULT WINAPI D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* pDeclarator, DWORD* pFVF) {
  if (!pDeclarator || !pFVF) return D3DERR_INVALIDCALL;
  *pFVF = 0;
  // Gather the FVF bits the elements ask for, then accept the code only if its own declaration
  // is exactly the one given (order, offsets, types and usages).
  DWORD fvf = 0;
  UINT weights = 0, texCount = 0;
  DWORD lastBeta = 0;
  bool position = false, positionT = false, position4 = false;
  const UINT length = D3DXGetDeclLength(pDeclarator);
  if (length >= MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < length; ++i) {
    const D3DVERTEXELEMENT9& e = pDeclarator[i];
    switch (e.Usage) {
      case D3DDECLUSAGE_POSITION:
        position = true;
        position4 = e.Type == D3DDECLTYPE_FLOAT4;
        break;
      case D3DDECLUSAGE_POSITIONT:
        positionT = true;
        break;
      case D3DDECLUSAGE_BLENDWEIGHT:
        if (e.Type >= D3DDECLTYPE_FLOAT1 && e.Type <= D3DDECLTYPE_FLOAT4)
          weights = e.Type - D3DDECLTYPE_FLOAT1 + 1;
        break;
      case D3DDECLUSAGE_BLENDINDICES:
        lastBeta = e.Type == D3DDECLTYPE_UBYTE4 ? D3DFVF_LASTBETA_UBYTE4 : D3DFVF_LASTBETA_D3DCOLOR;
        break;
      case D3DDECLUSAGE_NORMAL:
        fvf |= D3DFVF_NORMAL;
        break;
      case D3DDECLUSAGE_PSIZE:
        fvf |= D3DFVF_PSIZE;
        break;
      case D3DDECLUSAGE_COLOR:
        fvf |= e.UsageIndex == 0 ? D3DFVF_DIFFUSE : D3DFVF_SPECULAR;
        break;
      case D3DDECLUSAGE_TEXCOORD: {
        if (e.UsageIndex >= 8) return D3DERR_INVALIDCALL;
        const UINT n = e.Type >= D3DDECLTYPE_FLOAT1 && e.Type <= D3DDECLTYPE_FLOAT4
                           ? e.Type - D3DDECLTYPE_FLOAT1 + 1
                           : 2;
        const DWORD format = n == 1   ? D3DFVF_TEXTUREFORMAT1
                             : n == 3 ? D3DFVF_TEXTUREFORMAT3
                             : n == 4 ? D3DFVF_TEXTUREFORMAT4
                                      : D3DFVF_TEXTUREFORMAT2;
        fvf |= format << (16 + 2 * e.UsageIndex);
        ++texCount;
        break;
      }
      default:
        return D3DERR_INVALIDCALL;
    }
  }
  const UINT blend = weights + (lastBeta ? 1 : 0);
  if (positionT) {
    fvf |= D3DFVF_XYZRHW;
  } else if (position && blend) {
    if (blend > 5) return D3DERR_INVALIDCALL;
    fvf |= D3DFVF_XYZB1 + 2 * (blend - 1);
    fvf |= lastBeta;
  } else if (position) {
    fvf |= position4 ? D3DFVF_XYZW : D3DFVF_XYZ;
  }
  if (texCount > 8) return D3DERR_INVALIDCALL;
  fvf |= texCount << D3DFVF_TEXCOUNT_SHIFT;

  D3DVERTEXELEMENT9 expected[MAX_FVF_DECL_SIZE];
  if (FAILED(D3DXDeclaratorFromFVF(fvf, expected)) ||
      !d3dx_mesh::SameDeclaration(expected, pDeclarator))
    return D3DERR_INVALIDCALL;
  *pFVF = fvf;
  return D3D_OK;
}

UINT WINAPI D3DXGetFVFVertexSize(DWORD FVF) {
  UINT size = 0;
  const DWORD position = FVF & D3DFVF_POSITION_MASK;
  switch (position) {
    case D3DFVF_XYZ:
      size = 12;
      break;
    case D3DFVF_XYZRHW:
    case D3DFVF_XYZW:
      size = 16;
      break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
      size = 12 + 4 * ((position - D3DFVF_XYZB1) / 2 + 1);
      break;
    default:
      break;
  }
  if (FVF & D3DFVF_NORMAL) size += 12;
  if (FVF & D3DFVF_PSIZE) size += 4;
  if (FVF & D3DFVF_DIFFUSE) size += 4;
  if (FVF & D3DFVF_SPECULAR) size += 4;
  const UINT texCount = std::min<UINT>((FVF & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT, 8);
  for (UINT i = 0; i < texCount; ++i) size += 4 * d3dx_mesh::TexCoordComponents(FVF, i);
  return size;
}

UINT WINAPI D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* pDecl, DWORD Stream) {
  if (!pDecl) return 0;
  UINT size = 0;
  for (UINT i = 0; i < MAXD3DDECLLENGTH && !d3dx_mesh::IsEnd(pDecl[i]); ++i)
    if (pDecl[i].Stream == Stream)
      size = std::max(size, static_cast<UINT>(pDecl[i].Offset) + DeclTypeSize(pDecl[i].Type));
  return size;
}

UINT WINAPI D3DXGetDeclLength(const D3DVERTEXELEMENT9* pDecl) {
  if (!pDecl) return 0;
  UINT n = 0;
  while (n < MAXD3DDECLLENGTH && !d3dx_mesh::IsEnd(pDecl[n])) ++n;
  return n;
}
