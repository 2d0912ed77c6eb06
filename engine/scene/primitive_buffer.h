// Primitive buffers: coloured points, lines and triangles in a managed vertex buffer, which the
// primitive-buffer pass draws over the scene. Every operation first finds the buffer in
// PrimitiveBufferList and does nothing (result 0) when it is not there.
#pragma once

#include <cstdint>

#include "engine/scene/scene_records.h"

// One vertex as the pass draws it: position and 0xAARRGGBB colour.
struct PrimitiveVertex {
  float x, y, z;
  uint32_t colour;
};
static_assert(sizeof(PrimitiveVertex) == 16);

// The most vertices one buffer may hold.
constexpr int32_t kMaxPrimitiveVertices = 1 << 20;

// A new buffer of `count` vertices drawn as `type`, a D3DPRIMITIVETYPE: 1 points, 2 line list,
// 3 line strip, 4 triangle list, 5 triangle strip, 6 triangle fan. The count must make at least
// one primitive, and a whole number of them for the lists (pairs, triples). It is drawn at the
// origin. 0 for another type, a count that does not fit it, positions that are not finite, a
// null array or without a device; 0 and LastError 20 when the vertex buffer cannot be made.
PrimitiveBuffer* CreatePrimitiveBuffer(int32_t type, const PrimitiveVertex* vertices,
                                       int32_t count);
// Replaces the vertices (the type stays), growing the vertex buffer when they need more room.
// Refused as CreatePrimitiveBuffer refuses; a refused or failed update keeps the old vertices.
int UpdatePrimitiveBuffer(PrimitiveBuffer* buffer, const PrimitiveVertex* vertices, int32_t count);
// Moves the buffer: the translation of its world transform.
int PositionPrimitiveBuffer(PrimitiveBuffer* buffer, float x, float y, float z);
// Releases the vertex buffer and removes the record from PrimitiveBufferList. 1, or 0 for a
// buffer that is not listed.
int ReleasePrimitiveBuffer(PrimitiveBuffer* buffer);
