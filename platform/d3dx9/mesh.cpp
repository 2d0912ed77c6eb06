// ID3DXMesh: a vertex buffer, an index buffer of triangle lists, one attribute per face and an
// optional attribute table, all on the device's public interface. Subsets draw with one
// DrawIndexedPrimitive per attribute-table range (or per run of faces of the subset when there is
// no table). Also the topology shared with the shapes and helpers: adjacency and point
// representatives.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "win32/com_object.h"
#include "d3d9.h"
#include "d3dx9/mesh.h"
#include "d3dx9core.h"
#include "d3dx9mesh.h"

const IID IID_ID3DXBaseMesh = {
    0x7ed943dd, 0x52e8, 0x40b5, {0xa8, 0xd8, 0x76, 0x68, 0x5c, 0x40, 0x63, 0x30}};
const IID IID_ID3DXMesh = {
    0x4020e5c2, 0x1403, 0x4929, {0x88, 0x3f, 0xe2, 0xe8, 0x49, 0xfa, 0xc1, 0x95}};

// --- Topology ------------------------------------------------------------------------------------

namespace d3dx_mesh {

namespace {

bool FaceInRange(const std::vector<DWORD>& indices, size_t face, DWORD numVertices) {
  return indices[3 * face] < numVertices && indices[3 * face + 1] < numVertices &&
         indices[3 * face + 2] < numVertices;
}

// Disjoint sets whose root is always the lowest member.
class LowestRootSets {
 public:
  explicit LowestRootSets(size_t n) : parent_(n) {
    std::iota(parent_.begin(), parent_.end(), DWORD{0});
  }
  DWORD Find(DWORD v) {
    DWORD root = v;
    while (parent_[root] != root) root = parent_[root];
    while (parent_[v] != root) {
      const DWORD next = parent_[v];
      parent_[v] = root;
      v = next;
    }
    return root;
  }
  void Join(DWORD a, DWORD b) {
    a = Find(a);
    b = Find(b);
    if (a < b)
      parent_[b] = a;
    else if (b < a)
      parent_[a] = b;
  }

 private:
  std::vector<DWORD> parent_;
};

}  // namespace

void AdjacencyFromPointReps(const std::vector<DWORD>& indices, DWORD numVertices,
                            const DWORD* pointReps, DWORD* adjacency) {
  const size_t faces = indices.size() / 3;
  std::fill(adjacency, adjacency + 3 * faces, kNoFace);
  auto rep = [&](DWORD v) { return pointReps && pointReps[v] < numVertices ? pointReps[v] : v; };
  struct HalfEdge {
    DWORD lo, hi;  // the end points' representatives, ordered
    DWORD face;
    DWORD edge;
    bool forward;  // lo -> hi in the face's winding
  };
  std::vector<HalfEdge> edges;
  edges.reserve(3 * faces);
  for (size_t f = 0; f < faces; ++f) {
    if (!FaceInRange(indices, f, numVertices)) continue;
    for (DWORD e = 0; e < 3; ++e) {
      const DWORD a = rep(indices[3 * f + e]), b = rep(indices[3 * f + (e + 1) % 3]);
      if (a == b) continue;  // a collapsed edge borders nothing
      edges.push_back(HalfEdge{std::min(a, b), std::max(a, b), static_cast<DWORD>(f), e, a < b});
    }
  }
  std::sort(edges.begin(), edges.end(), [](const HalfEdge& x, const HalfEdge& y) {
    if (x.lo != y.lo) return x.lo < y.lo;
    if (x.hi != y.hi) return x.hi < y.hi;
    if (x.face != y.face) return x.face < y.face;
    return x.edge < y.edge;
  });
  std::vector<bool> matched(edges.size(), false);
  for (size_t first = 0; first < edges.size();) {
    size_t last = first + 1;
    while (last < edges.size() && edges[last].lo == edges[first].lo &&
           edges[last].hi == edges[first].hi)
      ++last;
    // Pair each half-edge with an unmatched one of another face, preferring the opposite
    // direction (the consistently wound neighbour) where an edge is shared by more than two.
    for (size_t i = first; i < last; ++i) {
      if (matched[i]) continue;
      size_t partner = last;
      for (size_t j = i + 1; j < last; ++j) {
        if (matched[j] || edges[j].face == edges[i].face) continue;
        if (edges[j].forward != edges[i].forward) {
          partner = j;
          break;
        }
        if (partner == last) partner = j;
      }
      if (partner == last) continue;
      matched[i] = matched[partner] = true;
      adjacency[3 * edges[i].face + edges[i].edge] = edges[partner].face;
      adjacency[3 * edges[partner].face + edges[partner].edge] = edges[i].face;
    }
    first = last;
  }
}

void PointRepsFromAdjacency(const std::vector<DWORD>& indices, DWORD numVertices,
                            const DWORD* adjacency, DWORD* pointReps) {
  const size_t faces = indices.size() / 3;
  LowestRootSets sets(numVertices);
  for (size_t f = 0; f < faces; ++f) {
    if (!FaceInRange(indices, f, numVertices)) continue;
    for (DWORD e = 0; e < 3; ++e) {
      const DWORD n = adjacency[3 * f + e];
      if (n >= faces || n == f || !FaceInRange(indices, n, numVertices)) continue;
      const DWORD a = indices[3 * f + e], b = indices[3 * f + (e + 1) % 3];
      // The neighbour's edge that points back here; with two shared edges, the one that meets
      // this edge's vertices the right way round.
      int back = -1;
      for (int k = 0; k < 3; ++k) {
        if (adjacency[3 * n + k] != f) continue;
        const DWORD c = indices[3 * n + k], d = indices[3 * n + (k + 1) % 3];
        if (back < 0 || c == b || d == a) back = k;
        if (c == b || d == a) break;
      }
      if (back < 0) continue;
      // Consistent winding runs the shared edge the other way: a meets d, b meets c.
      sets.Join(a, indices[3 * n + (back + 1) % 3]);
      sets.Join(b, indices[3 * n + back]);
    }
  }
  for (DWORD v = 0; v < numVertices; ++v) pointReps[v] = sets.Find(v);
}

void PointRepsFromPositions(const std::vector<D3DXVECTOR3>& positions, float epsilon,
                            DWORD* pointReps) {
  const DWORD n = static_cast<DWORD>(positions.size());
  if (n == 0) return;
  // Search along the axis of the widest spread, so that flat meshes do not put every vertex in
  // one window.
  float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (const D3DXVECTOR3& p : positions)
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], (&p.x)[a]);
      hi[a] = std::max(hi[a], (&p.x)[a]);
    }
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (hi[a] - lo[a] > hi[axis] - lo[axis]) axis = a;
  auto key = [&](DWORD v) { return (&positions[v].x)[axis]; };

  std::vector<DWORD> sorted;
  sorted.reserve(n);
  for (DWORD v = 0; v < n; ++v)
    if (!std::isnan(key(v))) sorted.push_back(v);  // a NaN position matches nothing
  std::sort(sorted.begin(), sorted.end(),
            [&](DWORD a, DWORD b) { return key(a) < key(b) || (key(a) == key(b) && a < b); });
  const float epsilonSq = epsilon * epsilon;
  for (DWORD v = 0; v < n; ++v) {
    pointReps[v] = v;
    const float k = key(v);
    if (std::isnan(k)) continue;
    auto it = std::lower_bound(sorted.begin(), sorted.end(), k - epsilon,
                               [&](DWORD u, float value) { return key(u) < value; });
    for (; it != sorted.end() && key(*it) <= k + epsilon; ++it) {
      const DWORD u = *it;
      if (u >= v || pointReps[u] != u || u >= pointReps[v]) continue;
      const D3DXVECTOR3 d = positions[u] - positions[v];
      if (d.x * d.x + d.y * d.y + d.z * d.z <= epsilonSq) pointReps[v] = u;
    }
  }
}

}  // namespace d3dx_mesh

// --- The mesh object -----------------------------------------------------------------------------

namespace {

using d3dx_mesh::kNoFace;

constexpr DWORD kMeshOptionBits = 0x1FFFF;
constexpr DWORD kOptimizeFlags = D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT |
                                 D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER |
                                 D3DXMESHOPT_IGNOREVERTS | D3DXMESHOPT_DONOTSPLIT |
                                 D3DXMESHOPT_DEVICEINDEPENDENT;
constexpr DWORD kFaceOrderFlags =
    D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER;
constexpr DWORD kLockFlags = D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE |
                             D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;

bool ValidLockFlags(DWORD flags) {
  return !(flags & ~kLockFlags) &&
         (flags & (D3DLOCK_READONLY | D3DLOCK_DISCARD)) != (D3DLOCK_READONLY | D3DLOCK_DISCARD);
}

// The vertex buffer, shared between meshes cloned with D3DXMESH_VB_SHARE.
struct VertexStore {
  IDirect3DVertexBuffer9* buffer = nullptr;
  ~VertexStore() { SafeRelease(buffer); }
};

struct Placement {
  D3DPOOL pool;
  DWORD usage;
};

// Where a buffer lives and how it is used, from the mesh options; `vertex` picks the VB_ or IB_
// half of the options.
Placement PlacementFor(DWORD options, bool vertex) {
  const DWORD systemMem = vertex ? D3DXMESH_VB_SYSTEMMEM : D3DXMESH_IB_SYSTEMMEM;
  const DWORD managed = vertex ? D3DXMESH_VB_MANAGED : D3DXMESH_IB_MANAGED;
  const DWORD writeOnly = vertex ? D3DXMESH_VB_WRITEONLY : D3DXMESH_IB_WRITEONLY;
  const DWORD dynamic = vertex ? D3DXMESH_VB_DYNAMIC : D3DXMESH_IB_DYNAMIC;
  const DWORD software = vertex ? D3DXMESH_VB_SOFTWAREPROCESSING : D3DXMESH_IB_SOFTWAREPROCESSING;
  Placement p{D3DPOOL_DEFAULT, 0};
  if (options & systemMem)
    p.pool = D3DPOOL_SYSTEMMEM;
  else if (options & managed)
    p.pool = D3DPOOL_MANAGED;
  if (options & writeOnly) p.usage |= D3DUSAGE_WRITEONLY;
  if (options & dynamic) p.usage |= D3DUSAGE_DYNAMIC;
  if (options & software) p.usage |= D3DUSAGE_SOFTWAREPROCESSING;
  if (options & D3DXMESH_DONOTCLIP) p.usage |= D3DUSAGE_DONOTCLIP;
  if (options & D3DXMESH_POINTS) p.usage |= D3DUSAGE_POINTS;
  if (options & D3DXMESH_RTPATCHES) p.usage |= D3DUSAGE_RTPATCHES;
  if (options & D3DXMESH_NPATCHES) p.usage |= D3DUSAGE_NPATCHES;
  return p;
}

class Mesh final : public ComObject<ID3DXMesh> {
 public:
  // Validates everything before creating anything. `shared` (a clone with D3DXMESH_VB_SHARE)
  // supplies the vertex buffer instead of a new one.
  static HRESULT Create(IDirect3DDevice9* device, DWORD numFaces, DWORD numVertices, DWORD options,
                        const D3DVERTEXELEMENT9* decl, std::shared_ptr<VertexStore> shared,
                        Mesh** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!device || !decl || numFaces == 0 || numVertices == 0) return D3DERR_INVALIDCALL;
    const DWORD allowed = kMeshOptionBits & ~(shared ? 0 : DWORD{D3DXMESH_VB_SHARE});
    if (options & ~allowed) return D3DERR_INVALIDCALL;
    const bool index32 = (options & D3DXMESH_32BIT) != 0;
    if (!index32 && numVertices > 0xFFFF) return D3DERR_INVALIDCALL;
    UINT length = 0, stride = 0;
    if (!d3dx_mesh::CheckMeshDeclaration(decl, &length, &stride)) return D3DERR_INVALIDCALL;
    const Placement vp = PlacementFor(options, true), ip = PlacementFor(options, false);
    // Direct3D refuses dynamic managed resources.
    if (((vp.usage & D3DUSAGE_DYNAMIC) && vp.pool == D3DPOOL_MANAGED) ||
        ((ip.usage & D3DUSAGE_DYNAMIC) && ip.pool == D3DPOOL_MANAGED))
      return D3DERR_INVALIDCALL;
    const uint64_t vertexBytes = uint64_t{numVertices} * stride;
    const uint64_t indexBytes = uint64_t{numFaces} * 3 * (index32 ? 4 : 2);
    if (vertexBytes > 0xFFFFFFFFu || indexBytes > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    DWORD fvf = 0;
    if (FAILED(D3DXFVFFromDeclarator(decl, &fvf))) fvf = 0;

    Mesh* mesh = nullptr;
    try {
      mesh = new Mesh(device);
      mesh->attributes_.assign(numFaces, 0);
    } catch (const std::bad_alloc&) {
      delete mesh;
      return E_OUTOFMEMORY;
    }
    mesh->options_ = options;
    mesh->fvf_ = fvf;
    mesh->numFaces_ = numFaces;
    mesh->numVertices_ = numVertices;
    mesh->stride_ = stride;
    std::copy(decl, decl + length + 1, mesh->decl_);
    HRESULT hr = D3D_OK;
    if (shared) {
      mesh->vertices_ = std::move(shared);
    } else {
      mesh->vertices_ = std::make_shared<VertexStore>();
      hr = device->CreateVertexBuffer(static_cast<UINT>(vertexBytes), vp.usage, fvf, vp.pool,
                                      &mesh->vertices_->buffer, nullptr);
    }
    if (SUCCEEDED(hr))
      hr = device->CreateIndexBuffer(static_cast<UINT>(indexBytes), ip.usage,
                                     index32 ? D3DFMT_INDEX32 : D3DFMT_INDEX16, ip.pool,
                                     &mesh->indices_, nullptr);
    if (FAILED(hr)) {
      mesh->Release();
      return hr;
    }
    D3DCAPS9 caps;
    if (SUCCEEDED(device->GetDeviceCaps(&caps)) && caps.MaxPrimitiveCount > 0)
      mesh->maxPrimitives_ = caps.MaxPrimitiveCount;
    *out = mesh;
    return D3D_OK;
  }

  // --- ID3DXBaseMesh ---

  HRESULT STDMETHODCALLTYPE DrawSubset(DWORD AttribId) override {
    HRESULT hr = Bind();
    if (FAILED(hr)) return hr;
    if (!table_.empty()) {
      for (const D3DXATTRIBUTERANGE& r : table_) {
        if (r.AttribId != AttribId || r.FaceCount == 0) continue;
        hr = r.VertexCount ? DrawFaces(r.FaceStart, r.FaceCount, r.VertexStart, r.VertexCount)
                           : DrawFaces(r.FaceStart, r.FaceCount, 0, numVertices_);
        if (FAILED(hr)) return hr;
      }
      return D3D_OK;
    }
    for (DWORD f = 0; f < numFaces_;) {
      if (attributes_[f] != AttribId) {
        ++f;
        continue;
      }
      DWORD end = f + 1;
      while (end < numFaces_ && attributes_[end] == AttribId) ++end;
      hr = DrawFaces(f, end - f, 0, numVertices_);
      if (FAILED(hr)) return hr;
      f = end;
    }
    return D3D_OK;
  }

  DWORD STDMETHODCALLTYPE GetNumFaces() override { return numFaces_; }
  DWORD STDMETHODCALLTYPE GetNumVertices() override { return numVertices_; }
  DWORD STDMETHODCALLTYPE GetFVF() override { return fvf_; }
  HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9 Declaration[]) override {
    if (!Declaration) return D3DERR_INVALIDCALL;
    std::copy(decl_, decl_ + D3DXGetDeclLength(decl_) + 1, Declaration);
    return D3D_OK;
  }
  DWORD STDMETHODCALLTYPE GetNumBytesPerVertex() override { return stride_; }
  DWORD STDMETHODCALLTYPE GetOptions() override { return options_; }

  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* ppDevice) override {
    if (!ppDevice) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *ppDevice = device_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE CloneMeshFVF(DWORD Options, DWORD FVF, LPDIRECT3DDEVICE9 pD3DDevice,
                                         LPD3DXMESH* ppCloneMesh) override {
    if (!ppCloneMesh) return D3DERR_INVALIDCALL;
    *ppCloneMesh = nullptr;
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    if (FAILED(D3DXDeclaratorFromFVF(FVF, decl))) return D3DERR_INVALIDCALL;
    return CloneMesh(Options, decl, pD3DDevice, ppCloneMesh);
  }

  HRESULT STDMETHODCALLTYPE CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                                      LPDIRECT3DDEVICE9 pD3DDevice,
                                      LPD3DXMESH* ppCloneMesh) override {
    if (!ppCloneMesh) return D3DERR_INVALIDCALL;
    *ppCloneMesh = nullptr;
    if (!pDeclaration || !pD3DDevice) return D3DERR_INVALIDCALL;
    const bool share = (Options & D3DXMESH_VB_SHARE) != 0;
    if (share && (pD3DDevice != device_ || !d3dx_mesh::SameDeclaration(pDeclaration, decl_)))
      return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    HRESULT hr = d3dx_mesh::ReadIndices(this, &indices);
    if (FAILED(hr)) return hr;
    if (!(Options & D3DXMESH_32BIT) &&
        std::any_of(indices.begin(), indices.end(), [](DWORD i) { return i > 0xFFFF; }))
      return D3DXERR_INVALIDDATA;
    Mesh* clone = nullptr;
    hr = Create(pD3DDevice, numFaces_, numVertices_, Options, pDeclaration,
                share ? vertices_ : nullptr, &clone);
    if (FAILED(hr)) return hr;
    hr = clone->WriteIndices(indices);
    if (SUCCEEDED(hr) && !share) hr = CopyVerticesInto(clone);
    if (FAILED(hr)) {
      clone->Release();
      return hr;
    }
    clone->attributes_ = attributes_;
    clone->table_ = table_;
    *ppCloneMesh = clone;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetVertexBuffer(LPDIRECT3DVERTEXBUFFER9* ppVB) override {
    if (!ppVB) return D3DERR_INVALIDCALL;
    vertices_->buffer->AddRef();
    *ppVB = vertices_->buffer;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIndexBuffer(LPDIRECT3DINDEXBUFFER9* ppIB) override {
    if (!ppIB) return D3DERR_INVALIDCALL;
    indices_->AddRef();
    *ppIB = indices_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE LockVertexBuffer(DWORD Flags, LPVOID* ppData) override {
    if (!ppData) return D3DERR_INVALIDCALL;
    *ppData = nullptr;
    if (!ValidLockFlags(Flags)) return D3DERR_INVALIDCALL;
    return vertices_->buffer->Lock(0, 0, ppData, Flags);
  }
  HRESULT STDMETHODCALLTYPE UnlockVertexBuffer() override { return vertices_->buffer->Unlock(); }
  HRESULT STDMETHODCALLTYPE LockIndexBuffer(DWORD Flags, LPVOID* ppData) override {
    if (!ppData) return D3DERR_INVALIDCALL;
    *ppData = nullptr;
    if (!ValidLockFlags(Flags)) return D3DERR_INVALIDCALL;
    return indices_->Lock(0, 0, ppData, Flags);
  }
  HRESULT STDMETHODCALLTYPE UnlockIndexBuffer() override { return indices_->Unlock(); }

  HRESULT STDMETHODCALLTYPE GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable,
                                              DWORD* pAttribTableSize) override {
    if (!pAttribTable && !pAttribTableSize) return D3DERR_INVALIDCALL;
    if (pAttribTable) {
      // With a size, it is the room in pAttribTable; without one, the caller asked for the
      // count beforehand and made room for every entry.
      const size_t n =
          pAttribTableSize ? std::min<size_t>(*pAttribTableSize, table_.size()) : table_.size();
      std::copy(table_.begin(), table_.begin() + n, pAttribTable);
    }
    if (pAttribTableSize) *pAttribTableSize = static_cast<DWORD>(table_.size());
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE ConvertPointRepsToAdjacency(const DWORD* pPRep,
                                                        DWORD* pAdjacency) override {
    if (!pAdjacency) return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    const HRESULT hr = d3dx_mesh::ReadIndices(this, &indices);
    if (FAILED(hr)) return hr;
    d3dx_mesh::AdjacencyFromPointReps(indices, numVertices_, pPRep, pAdjacency);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE ConvertAdjacencyToPointReps(const DWORD* pAdjacency,
                                                        DWORD* pPRep) override {
    if (!pAdjacency || !pPRep) return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    const HRESULT hr = d3dx_mesh::ReadIndices(this, &indices);
    if (FAILED(hr)) return hr;
    d3dx_mesh::PointRepsFromAdjacency(indices, numVertices_, pAdjacency, pPRep);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) override {
    if (!pAdjacency || !(Epsilon >= 0.0f)) return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    std::vector<D3DXVECTOR3> positions;
    HRESULT hr = d3dx_mesh::ReadIndices(this, &indices);
    if (SUCCEEDED(hr)) hr = d3dx_mesh::ReadPositions(this, &positions);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> reps(numVertices_);
    d3dx_mesh::PointRepsFromPositions(positions, Epsilon, reps.data());
    d3dx_mesh::AdjacencyFromPointReps(indices, numVertices_, reps.data(), pAdjacency);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE UpdateSemantics(D3DVERTEXELEMENT9 Declaration[]) override {
    UINT length = 0, stride = 0;
    if (!d3dx_mesh::CheckMeshDeclaration(Declaration, &length, &stride) || stride != stride_)
      return D3DERR_INVALIDCALL;
    std::copy(Declaration, Declaration + length + 1, decl_);
    if (FAILED(D3DXFVFFromDeclarator(decl_, &fvf_))) fvf_ = 0;
    SafeRelease(declaration_);
    return D3D_OK;
  }

  // --- ID3DXMesh ---

  HRESULT STDMETHODCALLTYPE LockAttributeBuffer(DWORD Flags, DWORD** ppData) override {
    if (!ppData) return D3DERR_INVALIDCALL;
    *ppData = nullptr;
    if (!ValidLockFlags(Flags)) return D3DERR_INVALIDCALL;
    // Attributes about to change leave the table describing the old ones: drop it, so subsets
    // are found from the attributes themselves until the next attribute sort.
    if (!(Flags & D3DLOCK_READONLY)) table_.clear();
    ++attributeLocks_;
    *ppData = attributes_.data();
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE UnlockAttributeBuffer() override {
    if (attributeLocks_ == 0) return D3DERR_INVALIDCALL;
    --attributeLocks_;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE Optimize(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                                     DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap,
                                     LPD3DXMESH* ppOptMesh) override {
    if (!ppOptMesh) return D3DERR_INVALIDCALL;
    *ppOptMesh = nullptr;
    const DWORD meshOptions = Flags & kMeshOptionBits;
    // The optimizer reads the new index buffer back, and keeps this mesh's index size.
    if (meshOptions & (D3DXMESH_32BIT | D3DXMESH_IB_WRITEONLY)) return D3DERR_INVALIDCALL;
    ID3DXMesh* clone = nullptr;
    HRESULT hr = CloneMesh(meshOptions | (options_ & D3DXMESH_32BIT), decl_, device_, &clone);
    if (FAILED(hr)) return hr;
    hr = clone->OptimizeInplace(Flags & ~kMeshOptionBits, pAdjacencyIn, pAdjacencyOut, pFaceRemap,
                                ppVertexRemap);
    if (FAILED(hr)) {
      clone->Release();
      return hr;
    }
    *ppOptMesh = clone;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn,
                                            DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                                            LPD3DXBUFFER* ppVertexRemap) override;

  HRESULT STDMETHODCALLTYPE SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable,
                                              DWORD cAttribTableSize) override {
    if (cAttribTableSize && !pAttribTable) return D3DERR_INVALIDCALL;
    for (DWORD i = 0; i < cAttribTableSize; ++i) {
      const D3DXATTRIBUTERANGE& r = pAttribTable[i];
      if (uint64_t{r.FaceStart} + r.FaceCount > numFaces_ ||
          uint64_t{r.VertexStart} + r.VertexCount > numVertices_)
        return D3DERR_INVALIDCALL;
    }
    try {
      table_.assign(pAttribTable, pAttribTable + cAttribTableSize);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return D3D_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_ID3DXMesh || riid == IID_ID3DXBaseMesh;
  }

 private:
  explicit Mesh(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }
  ~Mesh() override {
    SafeRelease(declaration_);
    SafeRelease(indices_);
    vertices_.reset();
    device_->Release();
  }

  // The vertex layout, stream and indices for a draw.
  HRESULT Bind() {
    HRESULT hr;
    if (fvf_) {
      hr = device_->SetFVF(fvf_);
    } else {
      if (!declaration_) {
        hr = device_->CreateVertexDeclaration(decl_, &declaration_);
        if (FAILED(hr)) return hr;
      }
      hr = device_->SetVertexDeclaration(declaration_);
    }
    if (SUCCEEDED(hr)) hr = device_->SetStreamSource(0, vertices_->buffer, 0, stride_);
    if (SUCCEEDED(hr)) hr = device_->SetIndices(indices_);
    return hr;
  }

  // Faces [first, first + count), in pieces the device accepts.
  HRESULT DrawFaces(DWORD first, DWORD count, DWORD minVertex, DWORD vertexCount) {
    while (count) {
      const DWORD n = std::min(count, maxPrimitives_);
      const HRESULT hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, minVertex,
                                                       vertexCount, first * 3, n);
      if (FAILED(hr)) return hr;
      first += n;
      count -= n;
    }
    return D3D_OK;
  }

  bool Index32() const { return (options_ & D3DXMESH_32BIT) != 0; }

  HRESULT WriteIndices(const std::vector<DWORD>& indices) {
    void* data = nullptr;
    const HRESULT hr = indices_->Lock(0, 0, &data, 0);
    if (FAILED(hr)) return hr;
    if (Index32()) {
      std::memcpy(data, indices.data(), indices.size() * 4);
    } else {
      auto* out = static_cast<uint16_t*>(data);
      for (size_t i = 0; i < indices.size(); ++i) out[i] = static_cast<uint16_t>(indices[i]);
    }
    indices_->Unlock();
    return D3D_OK;
  }

  // Every vertex into `clone`'s layout: elements of the same usage are carried over (converted
  // between types), the rest are zero.
  HRESULT CopyVerticesInto(Mesh* clone) {
    void* src = nullptr;
    void* dst = nullptr;
    HRESULT hr = vertices_->buffer->Lock(0, 0, &src, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    hr = clone->vertices_->buffer->Lock(0, 0, &dst, 0);
    if (FAILED(hr)) {
      vertices_->buffer->Unlock();
      return hr;
    }
    struct Route {
      const D3DVERTEXELEMENT9* to;
      const D3DVERTEXELEMENT9* from;  // null: zero
    };
    std::vector<Route> routes;
    for (UINT i = 0; i < D3DXGetDeclLength(clone->decl_); ++i) {
      const D3DVERTEXELEMENT9& e = clone->decl_[i];
      routes.push_back(Route{&e, d3dx_mesh::FindElement(decl_, e.Usage, e.UsageIndex)});
    }
    const auto* in = static_cast<const BYTE*>(src);
    auto* out = static_cast<BYTE*>(dst);
    std::memset(out, 0, size_t{numVertices_} * clone->stride_);
    for (DWORD v = 0; v < numVertices_; ++v) {
      const BYTE* vin = in + size_t{v} * stride_;
      BYTE* vout = out + size_t{v} * clone->stride_;
      for (const Route& r : routes) {
        if (!r.from) continue;
        if (r.from->Type == r.to->Type) {
          std::memcpy(vout + r.to->Offset, vin + r.from->Offset,
                      d3dx_mesh::DeclTypeSize(r.to->Type));
        } else {
          float value[4];
          d3dx_mesh::DecodeElement(r.from->Type, vin + r.from->Offset, value);
          d3dx_mesh::EncodeElement(r.to->Type, value, vout + r.to->Offset);
        }
      }
    }
    clone->vertices_->buffer->Unlock();
    vertices_->buffer->Unlock();
    return D3D_OK;
  }

  IDirect3DDevice9* device_;
  DWORD options_ = 0;
  DWORD fvf_ = 0;
  DWORD numFaces_ = 0;
  DWORD numVertices_ = 0;
  DWORD stride_ = 0;
  D3DVERTEXELEMENT9 decl_[MAX_FVF_DECL_SIZE] = {};
  std::shared_ptr<VertexStore> vertices_;
  IDirect3DIndexBuffer9* indices_ = nullptr;
  IDirect3DVertexDeclaration9* declaration_ = nullptr;  // for layouts without an FVF code
  std::vector<DWORD> attributes_;                       // one per face
  std::vector<D3DXATTRIBUTERANGE> table_;
  DWORD attributeLocks_ = 0;
  DWORD maxPrimitives_ = 0xFFFFF;
};

// Faces are put in attribute order (stable, so faces of one subset keep their order) unless only
// COMPACT is asked for; unless IGNOREVERTS, vertices are renumbered in the order the faces first
// use them and unused vertices dropped. Vertices shared between subsets are not split: such
// ranges overlap. Everything that can fail happens before the mesh changes.
HRESULT Mesh::OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                              DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap) {
  if (ppVertexRemap) *ppVertexRemap = nullptr;
  if ((Flags & ~kOptimizeFlags) || !(Flags & (kFaceOrderFlags | D3DXMESHOPT_COMPACT)))
    return D3DERR_INVALIDCALL;
  if ((Flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) ==
      (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER))
    return D3DERR_INVALIDCALL;
  if (pAdjacencyOut && !pAdjacencyIn) return D3DERR_INVALIDCALL;
  const bool keepVertices = (Flags & D3DXMESHOPT_IGNOREVERTS) != 0;
  if (!keepVertices && vertices_.use_count() > 1) return D3DERR_INVALIDCALL;
  if (pAdjacencyIn)
    for (size_t i = 0; i < size_t{numFaces_} * 3; ++i)
      if (pAdjacencyIn[i] != kNoFace && pAdjacencyIn[i] >= numFaces_) return D3DERR_INVALIDCALL;

  std::vector<DWORD> indices;
  HRESULT hr = d3dx_mesh::ReadIndices(this, &indices);
  if (FAILED(hr)) return hr;

  // New face i is old face order[i].
  std::vector<DWORD> order(numFaces_);
  std::iota(order.begin(), order.end(), DWORD{0});
  const bool sorted = (Flags & kFaceOrderFlags) != 0;
  if (sorted)
    std::stable_sort(order.begin(), order.end(),
                     [&](DWORD a, DWORD b) { return attributes_[a] < attributes_[b]; });

  // New vertex i is old vertex vertexOrder[i].
  std::vector<DWORD> vertexOrder;
  DWORD newVertexCount = numVertices_;
  std::vector<DWORD> newIndices(indices.size());
  if (keepVertices) {
    for (DWORD i = 0; i < numFaces_; ++i)
      for (int k = 0; k < 3; ++k) newIndices[3 * i + k] = indices[3 * order[i] + k];
  } else {
    std::vector<DWORD> renumbered(numVertices_, kNoFace);
    vertexOrder.reserve(numVertices_);
    for (DWORD i = 0; i < numFaces_; ++i) {
      for (int k = 0; k < 3; ++k) {
        const DWORD v = indices[3 * order[i] + k];
        if (v >= numVertices_) return D3DXERR_INVALIDMESH;
        if (renumbered[v] == kNoFace) {
          renumbered[v] = static_cast<DWORD>(vertexOrder.size());
          vertexOrder.push_back(v);
        }
        newIndices[3 * i + k] = renumbered[v];
      }
    }
    newVertexCount = static_cast<DWORD>(vertexOrder.size());
  }

  std::vector<D3DXATTRIBUTERANGE> table;
  if (sorted) {
    for (DWORD i = 0; i < numFaces_;) {
      const DWORD id = attributes_[order[i]];
      DWORD end = i + 1;
      while (end < numFaces_ && attributes_[order[end]] == id) ++end;
      DWORD lo = kNoFace, hi = 0;
      for (size_t k = size_t{3} * i; k < size_t{3} * end; ++k) {
        if (newIndices[k] >= newVertexCount) continue;  // kept as given with IGNOREVERTS
        lo = std::min(lo, newIndices[k]);
        hi = std::max(hi, newIndices[k]);
      }
      if (lo == kNoFace) {  // every index of the range out of range: claim all vertices
        lo = 0;
        hi = newVertexCount - 1;
      }
      table.push_back(D3DXATTRIBUTERANGE{id, i, end - i, lo, hi - lo + 1});
      i = end;
    }
  }

  std::vector<DWORD> adjacency;
  if (pAdjacencyOut) {
    std::vector<DWORD> newFaceOf(numFaces_);
    for (DWORD i = 0; i < numFaces_; ++i) newFaceOf[order[i]] = i;
    adjacency.resize(size_t{numFaces_} * 3);
    for (DWORD i = 0; i < numFaces_; ++i)
      for (int e = 0; e < 3; ++e) {
        const DWORD n = pAdjacencyIn[3 * order[i] + e];
        adjacency[3 * i + e] = n == kNoFace ? kNoFace : newFaceOf[n];
      }
  }

  ID3DXBuffer* remap = nullptr;
  if (ppVertexRemap) {
    hr = D3DXCreateBuffer(numVertices_ * 4, &remap);
    if (FAILED(hr)) return hr;
    auto* out = static_cast<DWORD*>(remap->GetBufferPointer());
    for (DWORD i = 0; i < numVertices_; ++i)
      out[i] = keepVertices ? i : (i < newVertexCount ? vertexOrder[i] : kNoFace);
  }

  // The vertices in their new order, into a smaller buffer when some were dropped.
  bool moveVertices = false;
  if (!keepVertices)
    for (DWORD i = 0; i < newVertexCount && !moveVertices; ++i) moveVertices = vertexOrder[i] != i;
  moveVertices = moveVertices || newVertexCount != numVertices_;
  std::vector<BYTE> oldVertices;
  IDirect3DVertexBuffer9* target = vertices_->buffer;
  if (moveVertices) {
    void* data = nullptr;
    hr = vertices_->buffer->Lock(0, 0, &data, D3DLOCK_READONLY);
    if (SUCCEEDED(hr)) {
      const auto* bytes = static_cast<const BYTE*>(data);
      oldVertices.assign(bytes, bytes + size_t{numVertices_} * stride_);
      vertices_->buffer->Unlock();
    }
    if (SUCCEEDED(hr) && newVertexCount != numVertices_) {
      D3DVERTEXBUFFER_DESC desc;
      hr = vertices_->buffer->GetDesc(&desc);
      if (SUCCEEDED(hr))
        hr = device_->CreateVertexBuffer(newVertexCount * stride_, desc.Usage, desc.FVF, desc.Pool,
                                         &target, nullptr);
    }
  }
  void* vertexData = nullptr;
  void* indexData = nullptr;
  if (SUCCEEDED(hr) && moveVertices) hr = target->Lock(0, 0, &vertexData, 0);
  if (SUCCEEDED(hr)) {
    hr = indices_->Lock(0, 0, &indexData, 0);
    if (FAILED(hr) && vertexData) target->Unlock();
  }
  if (FAILED(hr)) {
    if (target != vertices_->buffer) target->Release();
    SafeRelease(remap);
    return hr;
  }

  // Nothing below fails.
  if (moveVertices) {
    auto* out = static_cast<BYTE*>(vertexData);
    for (DWORD i = 0; i < newVertexCount; ++i)
      std::memcpy(out + size_t{i} * stride_, oldVertices.data() + size_t{vertexOrder[i]} * stride_,
                  stride_);
    target->Unlock();
    if (target != vertices_->buffer) {
      vertices_->buffer->Release();
      vertices_->buffer = target;
    }
  }
  if (Index32()) {
    std::memcpy(indexData, newIndices.data(), newIndices.size() * 4);
  } else {
    auto* out = static_cast<uint16_t*>(indexData);
    for (size_t i = 0; i < newIndices.size(); ++i) out[i] = static_cast<uint16_t>(newIndices[i]);
  }
  indices_->Unlock();
  std::vector<DWORD> attributes(numFaces_);
  for (DWORD i = 0; i < numFaces_; ++i) attributes[i] = attributes_[order[i]];
  attributes_.swap(attributes);
  table_.swap(table);
  numVertices_ = newVertexCount;
  if (pFaceRemap) std::copy(order.begin(), order.end(), pFaceRemap);
  if (pAdjacencyOut) std::copy(adjacency.begin(), adjacency.end(), pAdjacencyOut);
  if (ppVertexRemap) *ppVertexRemap = remap;
  return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options,
                              const D3DVERTEXELEMENT9* pDeclaration, LPDIRECT3DDEVICE9 pD3DDevice,
                              LPD3DXMESH* ppMesh) {
  if (!ppMesh) return D3DERR_INVALIDCALL;
  Mesh* mesh = nullptr;
  const HRESULT hr =
      Mesh::Create(pD3DDevice, NumFaces, NumVertices, Options, pDeclaration, nullptr, &mesh);
  *ppMesh = mesh;
  return hr;
}

HRESULT WINAPI D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                                 LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh) {
  if (!ppMesh) return D3DERR_INVALIDCALL;
  *ppMesh = nullptr;
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  // A mesh holds untransformed vertices: D3DFVF_XYZRHW is refused.
  if ((FVF & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW || FAILED(D3DXDeclaratorFromFVF(FVF, decl)))
    return D3DERR_INVALIDCALL;
  return D3DXCreateMesh(NumFaces, NumVertices, Options, decl, pD3DDevice, ppMesh);
}
