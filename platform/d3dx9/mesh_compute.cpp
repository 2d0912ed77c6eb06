// Mesh helpers that work through the ID3DXBaseMesh interface: reading indices and positions,
// vertex normals, bounding boxes and spheres, and ray tests.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "d3dx9/mesh.h"
#include "d3dx9mesh.h"

namespace d3dx_mesh {

HRESULT ReadIndices(ID3DXBaseMesh* mesh, std::vector<DWORD>* indices) {
  const size_t count = size_t{mesh->GetNumFaces()} * 3;
  const bool index32 = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
  void* data = nullptr;
  const HRESULT hr = mesh->LockIndexBuffer(D3DLOCK_READONLY, &data);
  if (FAILED(hr)) return hr;
  indices->resize(count);
  if (index32) {
    std::memcpy(indices->data(), data, count * 4);
  } else {
    const auto* in = static_cast<const WORD*>(data);
    for (size_t i = 0; i < count; ++i) (*indices)[i] = in[i];
  }
  mesh->UnlockIndexBuffer();
  return D3D_OK;
}

namespace {

// The first FLOAT3 (or FLOAT4, for the position) element of a usage, within the vertex.
const D3DVERTEXELEMENT9* VectorElement(const D3DVERTEXELEMENT9* decl, BYTE usage, DWORD stride,
                                       bool allowFloat4) {
  const D3DVERTEXELEMENT9* e = FindElement(decl, usage, 0);
  if (!e) return nullptr;
  if (e->Type != D3DDECLTYPE_FLOAT3 && !(allowFloat4 && e->Type == D3DDECLTYPE_FLOAT4))
    return nullptr;
  if (e->Offset + 12u > stride) return nullptr;
  return e;
}

D3DXVECTOR3 ReadVector(const BYTE* p) {
  D3DXVECTOR3 v;
  std::memcpy(&v.x, p, 12);
  return v;
}

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  D3DXVECTOR3 r;
  D3DXVec3Cross(&r, &a, &b);
  return r;
}

}  // namespace

HRESULT ReadPositions(ID3DXBaseMesh* mesh, std::vector<D3DXVECTOR3>* positions) {
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  if (FAILED(mesh->GetDeclaration(decl))) return D3DERR_INVALIDCALL;
  const DWORD stride = mesh->GetNumBytesPerVertex();
  const D3DVERTEXELEMENT9* position = VectorElement(decl, D3DDECLUSAGE_POSITION, stride, true);
  if (!position) return D3DERR_INVALIDCALL;
  const DWORD count = mesh->GetNumVertices();
  void* data = nullptr;
  const HRESULT hr = mesh->LockVertexBuffer(D3DLOCK_READONLY, &data);
  if (FAILED(hr)) return hr;
  positions->resize(count);
  const auto* bytes = static_cast<const BYTE*>(data);
  for (DWORD v = 0; v < count; ++v)
    (*positions)[v] = ReadVector(bytes + size_t{v} * stride + position->Offset);
  mesh->UnlockVertexBuffer();
  return D3D_OK;
}

}  // namespace d3dx_mesh

using d3dx_mesh::Cross;

HRESULT WINAPI D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD* pAdjacency) {
  if (!pMesh) return D3DERR_INVALIDCALL;
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  if (FAILED(pMesh->GetDeclaration(decl))) return D3DERR_INVALIDCALL;
  const DWORD stride = pMesh->GetNumBytesPerVertex();
  const D3DVERTEXELEMENT9* normal =
      d3dx_mesh::VectorElement(decl, D3DDECLUSAGE_NORMAL, stride, false);
  if (!normal) return D3DERR_INVALIDCALL;
  std::vector<DWORD> indices;
  std::vector<D3DXVECTOR3> positions;
  HRESULT hr = d3dx_mesh::ReadIndices(pMesh, &indices);
  if (SUCCEEDED(hr)) hr = d3dx_mesh::ReadPositions(pMesh, &positions);
  if (FAILED(hr)) return hr;
  const DWORD count = pMesh->GetNumVertices();

  // Vertices that adjacency says are one point (split for texture seams or materials) gather
  // their faces together.
  std::vector<DWORD> reps(count);
  for (DWORD v = 0; v < count; ++v) reps[v] = v;
  if (pAdjacency) {
    hr = pMesh->ConvertAdjacencyToPointReps(pAdjacency, reps.data());
    if (FAILED(hr)) return hr;
    for (DWORD v = 0; v < count; ++v)
      if (reps[v] >= count) reps[v] = v;
  }
  // The cross product's length is twice the face's area: summing it weights faces by area.
  std::vector<D3DXVECTOR3> sums(count, D3DXVECTOR3(0, 0, 0));
  for (size_t f = 0; f + 2 < indices.size(); f += 3) {
    const DWORD a = indices[f], b = indices[f + 1], c = indices[f + 2];
    if (a >= count || b >= count || c >= count) continue;
    const D3DXVECTOR3 n = Cross(positions[b] - positions[a], positions[c] - positions[a]);
    sums[reps[a]] += n;
    sums[reps[b]] += n;
    sums[reps[c]] += n;
  }
  void* data = nullptr;
  hr = pMesh->LockVertexBuffer(0, &data);
  if (FAILED(hr)) return hr;
  auto* bytes = static_cast<BYTE*>(data);
  for (DWORD v = 0; v < count; ++v) {
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &sums[reps[v]]);
    std::memcpy(bytes + size_t{v} * stride + normal->Offset, &n.x, 12);
  }
  pMesh->UnlockVertexBuffer();
  return D3D_OK;
}

HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices,
                                      DWORD dwStride, D3DXVECTOR3* pMin, D3DXVECTOR3* pMax) {
  if (!pFirstPosition || !pMin || !pMax || NumVertices == 0) return D3DERR_INVALIDCALL;
  const auto* bytes = reinterpret_cast<const BYTE*>(pFirstPosition);
  D3DXVECTOR3 lo = d3dx_mesh::ReadVector(bytes), hi = lo;
  for (DWORD v = 1; v < NumVertices; ++v) {
    const D3DXVECTOR3 p = d3dx_mesh::ReadVector(bytes + size_t{v} * dwStride);
    D3DXVec3Minimize(&lo, &lo, &p);
    D3DXVec3Maximize(&hi, &hi, &p);
  }
  *pMin = lo;
  *pMax = hi;
  return D3D_OK;
}

HRESULT WINAPI D3DXComputeBoundingSphere(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices,
                                         DWORD dwStride, D3DXVECTOR3* pCenter, FLOAT* pRadius) {
  if (!pFirstPosition || !pCenter || !pRadius || NumVertices == 0) return D3DERR_INVALIDCALL;
  const auto* bytes = reinterpret_cast<const BYTE*>(pFirstPosition);
  double sum[3] = {0, 0, 0};
  for (DWORD v = 0; v < NumVertices; ++v) {
    const D3DXVECTOR3 p = d3dx_mesh::ReadVector(bytes + size_t{v} * dwStride);
    sum[0] += p.x;
    sum[1] += p.y;
    sum[2] += p.z;
  }
  const D3DXVECTOR3 centre(static_cast<float>(sum[0] / NumVertices),
                           static_cast<float>(sum[1] / NumVertices),
                           static_cast<float>(sum[2] / NumVertices));
  float radiusSq = 0.0f;
  for (DWORD v = 0; v < NumVertices; ++v) {
    const D3DXVECTOR3 d = d3dx_mesh::ReadVector(bytes + size_t{v} * dwStride) - centre;
    radiusSq = std::max(radiusSq, D3DXVec3LengthSq(&d));
  }
  *pCenter = centre;
  *pRadius = std::sqrt(radiusSq);
  return D3D_OK;
}

BOOL WINAPI D3DXIntersectTri(const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2,
                             const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir, FLOAT* pU,
                             FLOAT* pV, FLOAT* pDist) {
  if (!p0 || !p1 || !p2 || !pRayPos || !pRayDir) return FALSE;
  const D3DXVECTOR3 e1 = *p1 - *p0, e2 = *p2 - *p0;
  const D3DXVECTOR3 p = Cross(*pRayDir, e2);
  const float det = D3DXVec3Dot(&e1, &p);
  if (!(std::fabs(det) > 1e-20f)) return FALSE;  // parallel, degenerate or NaN
  const float inv = 1.0f / det;
  const D3DXVECTOR3 t = *pRayPos - *p0;
  const float u = D3DXVec3Dot(&t, &p) * inv;
  if (!(u >= 0.0f && u <= 1.0f)) return FALSE;
  const D3DXVECTOR3 q = Cross(t, e1);
  const float v = D3DXVec3Dot(pRayDir, &q) * inv;
  if (!(v >= 0.0f && u + v <= 1.0f)) return FALSE;
  const float dist = D3DXVec3Dot(&e2, &q) * inv;
  if (!(dist >= 0.0f)) return FALSE;
  if (pU) *pU = u;
  if (pV) *pV = v;
  if (pDist) *pDist = dist;
  return TRUE;
}

HRESULT WINAPI D3DXIntersect(LPD3DXBASEMESH pMesh, const D3DXVECTOR3* pRayPos,
                             const D3DXVECTOR3* pRayDir, BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU,
                             FLOAT* pV, FLOAT* pDist, LPD3DXBUFFER* ppAllHits,
                             DWORD* pCountOfHits) {
  if (ppAllHits) *ppAllHits = nullptr;
  if (!pMesh || !pRayPos || !pRayDir || !pHit) return D3DERR_INVALIDCALL;
  std::vector<DWORD> indices;
  std::vector<D3DXVECTOR3> positions;
  HRESULT hr = d3dx_mesh::ReadIndices(pMesh, &indices);
  if (SUCCEEDED(hr)) hr = d3dx_mesh::ReadPositions(pMesh, &positions);
  if (FAILED(hr)) return hr;
  std::vector<D3DXINTERSECTINFO> hits;
  size_t nearest = 0;
  for (size_t f = 0; f + 2 < indices.size(); f += 3) {
    const DWORD a = indices[f], b = indices[f + 1], c = indices[f + 2];
    if (a >= positions.size() || b >= positions.size() || c >= positions.size()) continue;
    D3DXINTERSECTINFO info{static_cast<DWORD>(f / 3), 0, 0, 0};
    if (!D3DXIntersectTri(&positions[a], &positions[b], &positions[c], pRayPos, pRayDir, &info.U,
                          &info.V, &info.Dist))
      continue;
    if (hits.empty() || info.Dist < hits[nearest].Dist) nearest = hits.size();
    hits.push_back(info);
  }
  if (ppAllHits && !hits.empty()) {
    hr = D3DXCreateBuffer(static_cast<DWORD>(hits.size() * sizeof(D3DXINTERSECTINFO)), ppAllHits);
    if (FAILED(hr)) return hr;
    std::memcpy((*ppAllHits)->GetBufferPointer(), hits.data(),
                hits.size() * sizeof(D3DXINTERSECTINFO));
  }
  *pHit = hits.empty() ? FALSE : TRUE;
  if (pCountOfHits) *pCountOfHits = static_cast<DWORD>(hits.size());
  if (!hits.empty()) {
    if (pFaceIndex) *pFaceIndex = hits[nearest].FaceIndex;
    if (pU) *pU = hits[nearest].U;
    if (pV) *pV = hits[nearest].V;
    if (pDist) *pDist = hits[nearest].Dist;
  }
  return D3D_OK;
}
