// ID3DXSkinInfo: bone influences, names and offset matrices, and software skinning of vertex data
// in any layout with a FLOAT3 position. Skinning gathers each vertex's influences from a table
// sorted by vertex, blends the bones' matrices once per vertex and transforms the position, the
// normal (by the blended inverse transposes), tangent and binormal; vertices no bone moves keep
// their source values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "win32/com_object.h"
#include "d3dx9/mesh.h"
#include "d3dx9mesh.h"

const IID IID_ID3DXSkinInfo = {
    0x11eaa540, 0xf9a6, 0x4d49, {0xae, 0x6a, 0xe1, 0x92, 0x21, 0xf7, 0x0c, 0xc4}};

namespace {

// More bones than an .x file can name (its header counts them in a WORD) is a caller's mistake.
constexpr DWORD kMaxBones = 0x10000;

struct Bone {
  std::string name;
  bool named = false;
  D3DXMATRIX offset;
  std::vector<DWORD> vertices;
  std::vector<float> weights;
};

// One bone's pull on one vertex, in the gather table.
struct Influence {
  DWORD vertex;
  DWORD bone;
  float weight;
};

// The rows of a matrix that move points and directions: 3 x 3 plus the translation row.
struct Affine {
  float m[12];
};

Affine ToAffine(const D3DXMATRIX& a) {
  return Affine{
      {a._11, a._12, a._13, a._21, a._22, a._23, a._31, a._32, a._33, a._41, a._42, a._43}};
}

// Where the elements skinning touches sit in a vertex; -1 for absent.
struct SkinLayout {
  int position = -1;
  int position2 = -1;  // a second position, skinned by the bones' inverses
  int normal = -1;
  int tangent = -1;
  int binormal = -1;
  UINT stride = 0;
};

int Float3Offset(const D3DVERTEXELEMENT9* decl, BYTE usage, BYTE index, bool allowFloat4) {
  const D3DVERTEXELEMENT9* e = d3dx_mesh::FindElement(decl, usage, index);
  if (!e) return -1;
  if (e->Type == D3DDECLTYPE_FLOAT3 || (allowFloat4 && e->Type == D3DDECLTYPE_FLOAT4))
    return e->Offset;
  return -1;
}

inline void Load3(const BYTE* p, float v[3]) {
  std::memcpy(v, p, 12);
}
inline void Store3(BYTE* p, const float v[3]) {
  std::memcpy(p, v, 12);
}

inline void Normalize3(float v[3]) {
  const float len2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (len2 > 0.0f) {
    const float inv = 1.0f / std::sqrt(len2);
    v[0] *= inv;
    v[1] *= inv;
    v[2] *= inv;
  }
}

inline void TransformPoint(const float m[12], const float in[3], float out[3]) {
  out[0] = in[0] * m[0] + in[1] * m[3] + in[2] * m[6] + m[9];
  out[1] = in[0] * m[1] + in[1] * m[4] + in[2] * m[7] + m[10];
  out[2] = in[0] * m[2] + in[1] * m[5] + in[2] * m[8] + m[11];
}

inline void TransformDirection(const float m[12], const float in[3], float out[3]) {
  out[0] = in[0] * m[0] + in[1] * m[3] + in[2] * m[6];
  out[1] = in[0] * m[1] + in[1] * m[4] + in[2] * m[7];
  out[2] = in[0] * m[2] + in[1] * m[5] + in[2] * m[8];
}

class SkinInfo final : public ComObject<ID3DXSkinInfo> {
 public:
  static HRESULT Create(DWORD numVertices, const D3DVERTEXELEMENT9* decl, DWORD numBones,
                        LPD3DXSKININFO* out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!decl || numBones > kMaxBones) return D3DERR_INVALIDCALL;
    SkinInfo* skin = nullptr;
    try {
      skin = new SkinInfo();
      skin->numVertices_ = numVertices;
      skin->bones_.resize(numBones);
    } catch (const std::bad_alloc&) {
      delete skin;
      return E_OUTOFMEMORY;
    }
    for (Bone& b : skin->bones_) D3DXMatrixIdentity(&b.offset);
    const HRESULT hr = skin->SetDeclaration(decl);
    if (FAILED(hr)) {
      skin->Release();
      return hr;
    }
    *out = skin;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetBoneInfluence(DWORD bone, DWORD numInfluences, const DWORD* vertices,
                                             const FLOAT* weights) override {
    if (bone >= bones_.size() || (numInfluences && (!vertices || !weights)))
      return D3DERR_INVALIDCALL;
    for (DWORD i = 0; i < numInfluences; ++i)
      if (vertices[i] >= numVertices_) return D3DERR_INVALIDCALL;
    try {
      bones_[bone].vertices.assign(vertices, vertices + numInfluences);
      bones_[bone].weights.assign(weights, weights + numInfluences);
    } catch (const std::bad_alloc&) {
      bones_[bone].vertices.clear();
      bones_[bone].weights.clear();
      tableDirty_ = true;
      return E_OUTOFMEMORY;
    }
    tableDirty_ = true;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetBoneVertexInfluence(DWORD boneNum, DWORD influenceNum,
                                                   float weight) override {
    if (boneNum >= bones_.size() || influenceNum >= bones_[boneNum].weights.size())
      return D3DERR_INVALIDCALL;
    bones_[boneNum].weights[influenceNum] = weight;
    tableDirty_ = true;
    return D3D_OK;
  }

  DWORD STDMETHODCALLTYPE GetNumBoneInfluences(DWORD bone) override {
    return bone < bones_.size() ? static_cast<DWORD>(bones_[bone].vertices.size()) : 0;
  }

  HRESULT STDMETHODCALLTYPE GetBoneInfluence(DWORD bone, DWORD* vertices, FLOAT* weights) override {
    if (bone >= bones_.size() || !vertices || !weights) return D3DERR_INVALIDCALL;
    std::copy(bones_[bone].vertices.begin(), bones_[bone].vertices.end(), vertices);
    std::copy(bones_[bone].weights.begin(), bones_[bone].weights.end(), weights);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetBoneVertexInfluence(DWORD boneNum, DWORD influenceNum,
                                                   float* pWeight, DWORD* pVertexNum) override {
    if (boneNum >= bones_.size() || influenceNum >= bones_[boneNum].weights.size() || !pWeight ||
        !pVertexNum)
      return D3DERR_INVALIDCALL;
    *pWeight = bones_[boneNum].weights[influenceNum];
    *pVertexNum = bones_[boneNum].vertices[influenceNum];
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE GetMaxVertexInfluences(DWORD* maxVertexInfluences) override {
    if (!maxVertexInfluences) return D3DERR_INVALIDCALL;
    const HRESULT hr = RefreshTable();
    if (FAILED(hr)) return hr;
    DWORD best = 0;
    for (size_t i = 0; i < table_.size();) {
      size_t end = i + 1;
      while (end < table_.size() && table_[end].vertex == table_[i].vertex) ++end;
      best = std::max(best, static_cast<DWORD>(end - i));
      i = end;
    }
    *maxVertexInfluences = best;
    return D3D_OK;
  }

  DWORD STDMETHODCALLTYPE GetNumBones() override { return static_cast<DWORD>(bones_.size()); }

  HRESULT STDMETHODCALLTYPE FindBoneVertexInfluenceIndex(DWORD boneNum, DWORD vertexNum,
                                                         DWORD* pInfluenceIndex) override {
    if (boneNum >= bones_.size() || !pInfluenceIndex) return D3DERR_INVALIDCALL;
    const std::vector<DWORD>& v = bones_[boneNum].vertices;
    const auto it = std::find(v.begin(), v.end(), vertexNum);
    if (it == v.end()) return D3DERR_INVALIDCALL;
    *pInfluenceIndex = static_cast<DWORD>(it - v.begin());
    return D3D_OK;
  }

  // The most distinct bones that move the vertices of one triangle of the index buffer.
  HRESULT STDMETHODCALLTYPE GetMaxFaceInfluences(LPDIRECT3DINDEXBUFFER9 pIB, DWORD NumFaces,
                                                 DWORD* maxFaceInfluences) override {
    if (!pIB || !maxFaceInfluences) return D3DERR_INVALIDCALL;
    D3DINDEXBUFFER_DESC desc;
    HRESULT hr = pIB->GetDesc(&desc);
    if (FAILED(hr)) return hr;
    const UINT indexSize = desc.Format == D3DFMT_INDEX32 ? 4 : 2;
    if (uint64_t{NumFaces} * 3 * indexSize > desc.Size) return D3DERR_INVALIDCALL;
    hr = RefreshTable();
    if (FAILED(hr)) return hr;
    void* data = nullptr;
    hr = pIB->Lock(0, 0, &data, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    DWORD best = 0;
    std::vector<DWORD> faceBones;
    for (DWORD f = 0; f < NumFaces; ++f) {
      faceBones.clear();
      for (int k = 0; k < 3; ++k) {
        const size_t at = size_t{f} * 3 + k;
        const DWORD v = indexSize == 4 ? static_cast<const DWORD*>(data)[at]
                                       : static_cast<const WORD*>(data)[at];
        auto it =
            std::lower_bound(table_.begin(), table_.end(), v,
                             [](const Influence& a, DWORD value) { return a.vertex < value; });
        for (; it != table_.end() && it->vertex == v; ++it) faceBones.push_back(it->bone);
      }
      std::sort(faceBones.begin(), faceBones.end());
      best = std::max(best, static_cast<DWORD>(std::unique(faceBones.begin(), faceBones.end()) -
                                               faceBones.begin()));
    }
    pIB->Unlock();
    *maxFaceInfluences = best;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetMinBoneInfluence(FLOAT MinInfl) override {
    minInfluence_ = MinInfl;
    tableDirty_ = true;
    return D3D_OK;
  }
  FLOAT STDMETHODCALLTYPE GetMinBoneInfluence() override { return minInfluence_; }

  HRESULT STDMETHODCALLTYPE SetBoneName(DWORD Bone, LPCSTR pName) override {
    if (Bone >= bones_.size() || !pName) return D3DERR_INVALIDCALL;
    try {
      bones_[Bone].name = pName;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    bones_[Bone].named = true;
    return D3D_OK;
  }
  LPCSTR STDMETHODCALLTYPE GetBoneName(DWORD Bone) override {
    return Bone < bones_.size() && bones_[Bone].named ? bones_[Bone].name.c_str() : nullptr;
  }

  HRESULT STDMETHODCALLTYPE SetBoneOffsetMatrix(DWORD Bone,
                                                const D3DXMATRIX* pBoneTransform) override {
    if (Bone >= bones_.size() || !pBoneTransform) return D3DERR_INVALIDCALL;
    bones_[Bone].offset = *pBoneTransform;
    return D3D_OK;
  }
  LPD3DXMATRIX STDMETHODCALLTYPE GetBoneOffsetMatrix(DWORD Bone) override {
    return Bone < bones_.size() ? &bones_[Bone].offset : nullptr;
  }

  HRESULT STDMETHODCALLTYPE Clone(LPD3DXSKININFO* ppSkinInfo) override {
    if (!ppSkinInfo) return D3DERR_INVALIDCALL;
    *ppSkinInfo = nullptr;
    SkinInfo* copy = nullptr;
    try {
      copy = new SkinInfo();
      copy->numVertices_ = numVertices_;
      copy->bones_ = bones_;
    } catch (const std::bad_alloc&) {
      delete copy;
      return E_OUTOFMEMORY;
    }
    std::copy(decl_, decl_ + MAX_FVF_DECL_SIZE, copy->decl_);
    copy->fvf_ = fvf_;
    copy->layout_ = layout_;
    copy->minInfluence_ = minInfluence_;
    *ppSkinInfo = copy;
    return D3D_OK;
  }

  // pVertexRemap[i] names the old vertex that is now vertex i (UNUSED32: none). A vertex that was
  // split keeps its influences in every copy; one that was dropped loses them.
  HRESULT STDMETHODCALLTYPE Remap(DWORD NumVertices, DWORD* pVertexRemap) override {
    if (NumVertices && !pVertexRemap) return D3DERR_INVALIDCALL;
    std::vector<std::pair<DWORD, DWORD>> oldToNew;  // (old, new), sorted by old
    std::vector<Bone> bones;
    try {
      oldToNew.reserve(NumVertices);
      for (DWORD i = 0; i < NumVertices; ++i) {
        if (pVertexRemap[i] == UNUSED32) continue;
        if (pVertexRemap[i] >= numVertices_) return D3DERR_INVALIDCALL;
        oldToNew.emplace_back(pVertexRemap[i], i);
      }
      std::sort(oldToNew.begin(), oldToNew.end());
      bones = bones_;
      for (Bone& b : bones) {
        std::vector<DWORD> vertices;
        std::vector<float> weights;
        for (size_t k = 0; k < b.vertices.size(); ++k) {
          auto it = std::lower_bound(oldToNew.begin(), oldToNew.end(),
                                     std::make_pair(b.vertices[k], DWORD{0}));
          for (; it != oldToNew.end() && it->first == b.vertices[k]; ++it) {
            vertices.push_back(it->second);
            weights.push_back(b.weights[k]);
          }
        }
        b.vertices.swap(vertices);
        b.weights.swap(weights);
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    bones_.swap(bones);
    numVertices_ = NumVertices;
    tableDirty_ = true;
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetFVF(DWORD FVF) override {
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    if (FAILED(D3DXDeclaratorFromFVF(FVF, decl))) return D3DERR_INVALIDCALL;
    return SetDeclaration(decl);
  }

  HRESULT STDMETHODCALLTYPE SetDeclaration(const D3DVERTEXELEMENT9* pDeclaration) override {
    UINT length = 0, stride = 0;
    if (!pDeclaration || !d3dx_mesh::CheckMeshDeclaration(pDeclaration, &length, &stride))
      return D3DERR_INVALIDCALL;
    std::fill(decl_, decl_ + MAX_FVF_DECL_SIZE, D3DVERTEXELEMENT9{});
    std::copy(pDeclaration, pDeclaration + length + 1, decl_);
    if (FAILED(D3DXFVFFromDeclarator(decl_, &fvf_))) fvf_ = 0;
    layout_ = SkinLayout{};
    layout_.stride = stride;
    layout_.position = Float3Offset(decl_, D3DDECLUSAGE_POSITION, 0, false);
    layout_.position2 = Float3Offset(decl_, D3DDECLUSAGE_POSITION, 1, false);
    layout_.normal = Float3Offset(decl_, D3DDECLUSAGE_NORMAL, 0, false);
    layout_.tangent = Float3Offset(decl_, D3DDECLUSAGE_TANGENT, 0, true);
    layout_.binormal = Float3Offset(decl_, D3DDECLUSAGE_BINORMAL, 0, false);
    return D3D_OK;
  }

  DWORD STDMETHODCALLTYPE GetFVF() override { return fvf_; }

  HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9 Declaration[]) override {
    if (!Declaration) return D3DERR_INVALIDCALL;
    std::copy(decl_, decl_ + D3DXGetDeclLength(decl_) + 1, Declaration);
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE UpdateSkinnedMesh(const D3DXMATRIX* pBoneTransforms,
                                              const D3DXMATRIX* pBoneInvTransposeTransforms,
                                              LPCVOID pVerticesSrc, PVOID pVerticesDst) override;

  HRESULT STDMETHODCALLTYPE ConvertToBlendedMesh(LPD3DXMESH, DWORD, const DWORD*, LPDWORD, DWORD*,
                                                 LPD3DXBUFFER* ppVertexRemap, DWORD*, DWORD*,
                                                 LPD3DXBUFFER* ppBoneCombinationTable,
                                                 LPD3DXMESH* ppMesh) override {
    if (ppVertexRemap) *ppVertexRemap = nullptr;
    if (ppBoneCombinationTable) *ppBoneCombinationTable = nullptr;
    if (ppMesh) *ppMesh = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE ConvertToIndexedBlendedMesh(LPD3DXMESH, DWORD, DWORD, const DWORD*,
                                                        LPDWORD, DWORD*,
                                                        LPD3DXBUFFER* ppVertexRemap, DWORD*, DWORD*,
                                                        LPD3DXBUFFER* ppBoneCombinationTable,
                                                        LPD3DXMESH* ppMesh) override {
    if (ppVertexRemap) *ppVertexRemap = nullptr;
    if (ppBoneCombinationTable) *ppBoneCombinationTable = nullptr;
    if (ppMesh) *ppMesh = nullptr;
    return E_NOTIMPL;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXSkinInfo; }

 private:
  SkinInfo() = default;

  // The influences of every bone, grouped by vertex (bones in order within a vertex), without
  // those below the minimum influence.
  HRESULT RefreshTable() {
    if (!tableDirty_) return D3D_OK;
    try {
      table_.clear();
      size_t total = 0;
      for (const Bone& b : bones_) total += b.vertices.size();
      table_.reserve(total);
      for (DWORD bone = 0; bone < bones_.size(); ++bone) {
        const Bone& b = bones_[bone];
        for (size_t k = 0; k < b.vertices.size(); ++k) {
          if (b.weights[k] < minInfluence_) continue;
          table_.push_back(Influence{b.vertices[k], bone, b.weights[k]});
        }
      }
    } catch (const std::bad_alloc&) {
      table_.clear();
      return E_OUTOFMEMORY;
    }
    std::stable_sort(table_.begin(), table_.end(),
                     [](const Influence& a, const Influence& b) { return a.vertex < b.vertex; });
    tableDirty_ = false;
    return D3D_OK;
  }

  DWORD numVertices_ = 0;
  std::vector<Bone> bones_;
  D3DVERTEXELEMENT9 decl_[MAX_FVF_DECL_SIZE] = {};
  DWORD fvf_ = 0;
  SkinLayout layout_;
  float minInfluence_ = 0.0f;
  bool tableDirty_ = true;
  std::vector<Influence> table_;
  // Scratch for UpdateSkinnedMesh, kept to avoid allocating every frame.
  std::vector<Affine> bonePoint_, boneNormal_, boneInverse_;
};

HRESULT SkinInfo::UpdateSkinnedMesh(const D3DXMATRIX* pBoneTransforms,
                                    const D3DXMATRIX* pBoneInvTransposeTransforms,
                                    LPCVOID pVerticesSrc, PVOID pVerticesDst) {
  if (!pBoneTransforms || !pVerticesSrc || !pVerticesDst || layout_.position < 0)
    return D3DERR_INVALIDCALL;
  HRESULT hr = RefreshTable();
  if (FAILED(hr)) return hr;
  const SkinLayout& L = layout_;
  const bool directions = L.normal >= 0 || L.tangent >= 0 || L.binormal >= 0;
  const size_t numBones = bones_.size();
  try {
    bonePoint_.resize(numBones);
    if (L.normal >= 0) boneNormal_.resize(numBones);
    if (L.position2 >= 0) boneInverse_.resize(numBones);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (size_t b = 0; b < numBones; ++b) {
    bonePoint_[b] = ToAffine(pBoneTransforms[b]);
    D3DXMATRIX inverse;
    const bool needInverse = (L.normal >= 0 && !pBoneInvTransposeTransforms) || L.position2 >= 0;
    const bool invertible =
        needInverse && D3DXMatrixInverse(&inverse, nullptr, &pBoneTransforms[b]) != nullptr;
    if (L.normal >= 0) {
      if (pBoneInvTransposeTransforms) {
        boneNormal_[b] = ToAffine(pBoneInvTransposeTransforms[b]);
      } else {
        // A singular bone has no inverse transpose; its own rows still give a direction.
        D3DXMATRIX it;
        if (invertible) D3DXMatrixTranspose(&it, &inverse);
        boneNormal_[b] = ToAffine(invertible ? it : pBoneTransforms[b]);
      }
    }
    if (L.position2 >= 0) boneInverse_[b] = ToAffine(invertible ? inverse : pBoneTransforms[b]);
  }

  const auto* src = static_cast<const BYTE*>(pVerticesSrc);
  auto* dst = static_cast<BYTE*>(pVerticesDst);
  const size_t stride = L.stride;
  if (src != dst) std::memmove(dst, src, size_t{numVertices_} * stride);

  const Influence* in = table_.data();
  const Influence* end = in + table_.size();
  const bool normals = L.normal >= 0, inverses = L.position2 >= 0;
  while (in < end) {
    const DWORD v = in->vertex;
    // The blend of this vertex's bones, all twelve floats of each so the loops vectorise.
    alignas(16) float point[12], normal[12], inverse[12];
    {
      const float w = in->weight;
      const float* m = bonePoint_[in->bone].m;
      for (int k = 0; k < 12; ++k) point[k] = w * m[k];
      if (normals) {
        const float* n = boneNormal_[in->bone].m;
        for (int k = 0; k < 12; ++k) normal[k] = w * n[k];
      }
      if (inverses) {
        const float* n = boneInverse_[in->bone].m;
        for (int k = 0; k < 12; ++k) inverse[k] = w * n[k];
      }
    }
    for (++in; in < end && in->vertex == v; ++in) {
      const float w = in->weight;
      const float* m = bonePoint_[in->bone].m;
      for (int k = 0; k < 12; ++k) point[k] += w * m[k];
      if (normals) {
        const float* n = boneNormal_[in->bone].m;
        for (int k = 0; k < 12; ++k) normal[k] += w * n[k];
      }
      if (inverses) {
        const float* n = boneInverse_[in->bone].m;
        for (int k = 0; k < 12; ++k) inverse[k] += w * n[k];
      }
    }
    const BYTE* s = src + size_t{v} * stride;
    BYTE* d = dst + size_t{v} * stride;
    float a[3], b[3];
    Load3(s + L.position, a);
    TransformPoint(point, a, b);
    Store3(d + L.position, b);
    if (L.position2 >= 0) {
      Load3(s + L.position2, a);
      TransformPoint(inverse, a, b);
      Store3(d + L.position2, b);
    }
    if (!directions) continue;
    if (L.normal >= 0) {
      Load3(s + L.normal, a);
      TransformDirection(normal, a, b);
      Normalize3(b);
      Store3(d + L.normal, b);
    }
    if (L.tangent >= 0) {
      Load3(s + L.tangent, a);
      TransformDirection(point, a, b);
      Normalize3(b);
      Store3(d + L.tangent, b);
    }
    if (L.binormal >= 0) {
      Load3(s + L.binormal, a);
      TransformDirection(point, a, b);
      Normalize3(b);
      Store3(d + L.binormal, b);
    }
  }
  return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXCreateSkinInfo(DWORD NumVertices, const D3DVERTEXELEMENT9* pDeclaration,
                                  DWORD NumBones, LPD3DXSKININFO* ppSkinInfo) {
  return SkinInfo::Create(NumVertices, pDeclaration, NumBones, ppSkinInfo);
}

HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                     LPD3DXSKININFO* ppSkinInfo) {
  if (!ppSkinInfo) return D3DERR_INVALIDCALL;
  *ppSkinInfo = nullptr;
  D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
  if (FAILED(D3DXDeclaratorFromFVF(FVF, decl))) return D3DERR_INVALIDCALL;
  return SkinInfo::Create(NumVertices, decl, NumBones, ppSkinInfo);
}
