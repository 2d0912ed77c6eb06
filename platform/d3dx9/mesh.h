// What the mesh object, the shapes and the mesh helpers share: declaration elements, reading a
// mesh through its interface, and the topology over plain index lists.
#pragma once

#include <vector>

#include "d3dx9mesh.h"

namespace d3dx_mesh {

constexpr DWORD kNoFace = 0xFFFFFFFF;

// --- Declarations (mesh_decl.cpp) ----------------------------------------------------------------
// Bytes of one element of `type`; 0 for an unknown type.
UINT DeclTypeSize(BYTE type);
// One element as four floats, the way the vertex fetch expands it: absent components read
// (0, 0, 0, 1).
void DecodeElement(BYTE type, const BYTE* src, float out[4]);
// The inverse, rounding and clamping to what `type` can hold.
void EncodeElement(BYTE type, const float in[4], BYTE* dst);
// The element of this usage and usage index, or null.
const D3DVERTEXELEMENT9* FindElement(const D3DVERTEXELEMENT9* decl, BYTE usage, BYTE usageIndex);
// A declaration a mesh can hold: stream 0 only, known types and usages, default method,
// DWORD-aligned offsets, no usage twice, no pre-transformed position, a vertex of at least one
// byte. Gives its element count and vertex size.
bool CheckMeshDeclaration(const D3DVERTEXELEMENT9* decl, UINT* length, UINT* stride);
bool SameDeclaration(const D3DVERTEXELEMENT9* a, const D3DVERTEXELEMENT9* b);

// --- Reading a mesh through its interface (mesh_compute.cpp) -------------------------------------
HRESULT ReadIndices(ID3DXBaseMesh* mesh, std::vector<DWORD>* indices);
// Positions from the POSITION element (FLOAT3 or FLOAT4); D3DERR_INVALIDCALL without one.
HRESULT ReadPositions(ID3DXBaseMesh* mesh, std::vector<D3DXVECTOR3>* positions);

// --- Topology over index lists, three indices per face (mesh.cpp) --------------------------------
// Faces that name a vertex past numVertices take no part: they get no neighbours and are nobody's
// neighbour.
//
// Neighbours across edges whose end points have the same representatives (pointReps null: each
// vertex is its own).
void AdjacencyFromPointReps(const std::vector<DWORD>& indices, DWORD numVertices,
                            const DWORD* pointReps, DWORD* adjacency);
// Each vertex's representative: the lowest-numbered vertex that adjacency makes the same point.
void PointRepsFromAdjacency(const std::vector<DWORD>& indices, DWORD numVertices,
                            const DWORD* adjacency, DWORD* pointReps);
// Each vertex's representative: the lowest-numbered vertex within epsilon of it (itself its own
// representative).
void PointRepsFromPositions(const std::vector<D3DXVECTOR3>& positions, float epsilon,
                            DWORD* pointReps);

// --- The teapot (mesh_teapot.cpp) ----------------------------------------------------------------
// The Utah teapot tessellated to triangles, coincident vertices welded, degenerate triangles
// dropped, front faces clockwise; lid up along +y, centred on the origin. Unit normals, one per
// position, average the patches' normals where they meet.
void TeapotGeometry(std::vector<D3DXVECTOR3>* positions, std::vector<D3DXVECTOR3>* normals,
                    std::vector<DWORD>* indices);

}  // namespace d3dx_mesh
