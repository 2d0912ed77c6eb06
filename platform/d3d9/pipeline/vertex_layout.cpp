// Vertex layouts from FVF codes and vertex declarations, and the decoding of vertex elements.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

namespace {

float HalfToFloat(uint16_t h) {
  const uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 31, mantissa = h & 1023;
  float v;
  if (exponent == 0)
    v = std::ldexp(static_cast<float>(mantissa), -24);
  else if (exponent == 31)
    v = mantissa ? NAN : INFINITY;
  else
    v = std::ldexp(static_cast<float>(mantissa | 1024), static_cast<int>(exponent) - 25);
  return sign ? -v : v;
}

template <class T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

ElementRef Ref(int stream, uint8_t type, UINT offset) {
  ElementRef r;
  r.stream = static_cast<int8_t>(stream);
  r.type = type;
  r.offset = static_cast<uint16_t>(offset);
  return r;
}

}  // namespace

int ElementComponents(uint8_t type) {
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
      return 1;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2:
      return 2;
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
      return 3;
    case D3DDECLTYPE_FLOAT4:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4:
      return 4;
    default:
      return 0;
  }
}

UINT ElementSize(uint8_t type) {
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

void ReadElement(uint8_t type, const uint8_t* p, float out[4]) {
  out[0] = out[1] = out[2] = 0.f;
  out[3] = 1.f;
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
      std::memcpy(out, p, 4 * static_cast<size_t>(type - D3DDECLTYPE_FLOAT1 + 1));
      break;
    case D3DDECLTYPE_D3DCOLOR:  // bytes B, G, R, A in memory, read as R, G, B, A
      out[0] = p[2] / 255.f;
      out[1] = p[1] / 255.f;
      out[2] = p[0] / 255.f;
      out[3] = p[3] / 255.f;
      break;
    case D3DDECLTYPE_UBYTE4:
      for (int i = 0; i < 4; ++i) out[i] = p[i];
      break;
    case D3DDECLTYPE_UBYTE4N:
      for (int i = 0; i < 4; ++i) out[i] = p[i] / 255.f;
      break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
      for (int i = 0; i < (type == D3DDECLTYPE_SHORT2 ? 2 : 4); ++i)
        out[i] = Load<int16_t>(p + 2 * i);
      break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
      for (int i = 0; i < (type == D3DDECLTYPE_SHORT2N ? 2 : 4); ++i)
        out[i] = std::max(-1.f, Load<int16_t>(p + 2 * i) / 32767.f);
      break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
      for (int i = 0; i < (type == D3DDECLTYPE_USHORT2N ? 2 : 4); ++i)
        out[i] = Load<uint16_t>(p + 2 * i) / 65535.f;
      break;
    case D3DDECLTYPE_UDEC3: {
      const uint32_t v = Load<uint32_t>(p);
      for (int i = 0; i < 3; ++i) out[i] = static_cast<float>((v >> (10 * i)) & 1023);
      break;
    }
    case D3DDECLTYPE_DEC3N: {
      const uint32_t v = Load<uint32_t>(p);
      for (int i = 0; i < 3; ++i) {
        int c = static_cast<int>((v >> (10 * i)) & 1023);
        if (c & 512) c -= 1024;
        out[i] = std::max(-1.f, c / 511.f);
      }
      break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
      for (int i = 0; i < (type == D3DDECLTYPE_FLOAT16_2 ? 2 : 4); ++i)
        out[i] = HalfToFloat(Load<uint16_t>(p + 2 * i));
      break;
    default:
      break;
  }
}

VertexLayout VertexLayout::FromFvf(DWORD fvf) {
  VertexLayout l;
  l.fvf = fvf;
  std::fill(std::begin(l.need), std::end(l.need), 0u);
  UINT off = 0;
  int weights = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
      l.position = Ref(0, D3DDECLTYPE_FLOAT3, 0);
      off = 12;
      break;
    case D3DFVF_XYZRHW:
      l.position = Ref(0, D3DDECLTYPE_FLOAT4, 0);
      l.pretransformed = true;
      off = 16;
      break;
    case D3DFVF_XYZW:
      l.position = Ref(0, D3DDECLTYPE_FLOAT4, 0);
      off = 16;
      break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
      l.position = Ref(0, D3DDECLTYPE_FLOAT3, 0);
      weights = static_cast<int>(((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZB1) / 2 + 1);
      off = 12;
      break;
    default:
      return l;
  }
  if (weights > 0) {
    // With LASTBETA, the last "weight" carries the blend indices.
    const bool lastBeta = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
    const int floats = lastBeta ? weights - 1 : weights;
    if (floats > 4) return l;
    if (floats > 0)
      l.blendWeight = Ref(0, static_cast<uint8_t>(D3DDECLTYPE_FLOAT1 + floats - 1), off);
    off += 4 * static_cast<UINT>(floats);
    if (lastBeta) {
      l.blendIndices =
          Ref(0, (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR, off);
      off += 4;
    }
  }
  if (fvf & D3DFVF_NORMAL) {
    l.normal = Ref(0, D3DDECLTYPE_FLOAT3, off);
    off += 12;
  }
  if (fvf & D3DFVF_PSIZE) {
    l.psize = Ref(0, D3DDECLTYPE_FLOAT1, off);
    off += 4;
  }
  if (fvf & D3DFVF_DIFFUSE) {
    l.diffuse = Ref(0, D3DDECLTYPE_D3DCOLOR, off);
    off += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    l.specular = Ref(0, D3DDECLTYPE_D3DCOLOR, off);
    off += 4;
  }
  const int sets = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  if (sets > 8) return l;
  for (int i = 0; i < sets; ++i) {
    int dims = 2;
    switch ((fvf >> (16 + 2 * i)) & 3) {
      case D3DFVF_TEXTUREFORMAT1:
        dims = 1;
        break;
      case D3DFVF_TEXTUREFORMAT3:
        dims = 3;
        break;
      case D3DFVF_TEXTUREFORMAT4:
        dims = 4;
        break;
      default:
        break;
    }
    l.tex[i] = Ref(0, static_cast<uint8_t>(D3DDECLTYPE_FLOAT1 + dims - 1), off);
    off += 4 * static_cast<UINT>(dims);
  }
  l.texCount = sets;
  l.stride = off;
  l.need[0] = off;
  l.streams = 1;
  l.valid = true;
  auto add = [&l](int usage, int index, const ElementRef& r) {
    if (r.present())
      l.semantics[l.semanticCount++] = {static_cast<uint8_t>(usage), static_cast<uint8_t>(index),
                                        r};
  };
  add(l.pretransformed ? D3DDECLUSAGE_POSITIONT : D3DDECLUSAGE_POSITION, 0, l.position);
  add(D3DDECLUSAGE_BLENDWEIGHT, 0, l.blendWeight);
  add(D3DDECLUSAGE_BLENDINDICES, 0, l.blendIndices);
  add(D3DDECLUSAGE_NORMAL, 0, l.normal);
  add(D3DDECLUSAGE_PSIZE, 0, l.psize);
  add(D3DDECLUSAGE_COLOR, 0, l.diffuse);
  add(D3DDECLUSAGE_COLOR, 1, l.specular);
  for (int i = 0; i < sets; ++i) add(D3DDECLUSAGE_TEXCOORD, i, l.tex[i]);
  return l;
}

VertexLayout VertexLayout::FromElements(const D3DVERTEXELEMENT9* e, size_t count) {
  VertexLayout l;
  std::fill(std::begin(l.need), std::end(l.need), 0u);
  bool position = false;
  for (size_t i = 0; i < count; ++i) {
    const D3DVERTEXELEMENT9& el = e[i];
    if (el.Stream >= kMaxStreams || ElementSize(el.Type) == 0) return VertexLayout{};
    const UINT end = static_cast<UINT>(el.Offset) + ElementSize(el.Type);
    l.need[el.Stream] = std::max(l.need[el.Stream], end);
    l.streams = static_cast<uint16_t>(l.streams | (1u << el.Stream));
    const ElementRef r = Ref(el.Stream, el.Type, el.Offset);
    l.semantics[l.semanticCount++] = {el.Usage, el.UsageIndex, r};
    // The fixed-function pipeline reads usage index 0 of each usage (texture coordinates and
    // colours by index); other elements are for vertex shaders.
    switch (el.Usage) {
      case D3DDECLUSAGE_POSITION:
        if (el.UsageIndex == 0) l.position = r, position = true;
        break;
      case D3DDECLUSAGE_POSITIONT:
        if (el.UsageIndex == 0) l.position = r, l.pretransformed = position = true;
        break;
      case D3DDECLUSAGE_BLENDWEIGHT:
        if (el.UsageIndex == 0) l.blendWeight = r;
        break;
      case D3DDECLUSAGE_BLENDINDICES:
        if (el.UsageIndex == 0) l.blendIndices = r;
        break;
      case D3DDECLUSAGE_NORMAL:
        if (el.UsageIndex == 0) l.normal = r;
        break;
      case D3DDECLUSAGE_PSIZE:
        if (el.UsageIndex == 0) l.psize = r;
        break;
      case D3DDECLUSAGE_COLOR:
        if (el.UsageIndex == 0) l.diffuse = r;
        if (el.UsageIndex == 1) l.specular = r;
        break;
      case D3DDECLUSAGE_TEXCOORD:
        if (el.UsageIndex < 8) {
          l.tex[el.UsageIndex] = r;
          l.texCount = std::max(l.texCount, static_cast<int>(el.UsageIndex) + 1);
        }
        break;
      default:
        break;
    }
  }
  // Without a position only a vertex shader can draw (it may take its position from anything).
  l.valid = position;
  return l;
}

}  // namespace d3d9
