// The D3DXFRAME helpers: destroying a hierarchy through its allocator, appending children,
// finding frames by name, registering frame matrices with an animation controller and the
// hierarchy's bounding sphere. Walks keep their own stacks, so a deep hierarchy cannot exhaust the
// thread's.
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "d3dx9/mesh.h"
#include "d3dx9anim.h"

namespace {

bool Named(const D3DXFRAME* f) {
  return f->Name && f->Name[0];
}

// Calls visit(frame) for the frame, its descendants and its siblings, depth first, children
// before siblings; stops when visit returns false.
template <class Visit>
bool Walk(const D3DXFRAME* root, Visit visit) {
  std::vector<const D3DXFRAME*> stack;
  if (root) stack.push_back(root);
  while (!stack.empty()) {
    const D3DXFRAME* f = stack.back();
    stack.pop_back();
    if (!visit(f)) return false;
    if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
    if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
  }
  return true;
}

}  // namespace

HRESULT WINAPI D3DXFrameDestroy(LPD3DXFRAME pFrameRoot, LPD3DXALLOCATEHIERARCHY pAlloc) {
  if (!pFrameRoot || !pAlloc) return D3DERR_INVALIDCALL;
  try {
    std::vector<D3DXFRAME*> stack{pFrameRoot};
    while (!stack.empty()) {
      D3DXFRAME* f = stack.back();
      stack.pop_back();
      // Read the links before the allocator frees the frame.
      if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
      if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
      for (D3DXMESHCONTAINER* c = f->pMeshContainer; c;) {
        D3DXMESHCONTAINER* next = c->pNextMeshContainer;
        const HRESULT hr = pAlloc->DestroyMeshContainer(c);
        if (FAILED(hr)) return hr;
        c = next;
      }
      const HRESULT hr = pAlloc->DestroyFrame(f);
      if (FAILED(hr)) return hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT WINAPI D3DXFrameAppendChild(LPD3DXFRAME pFrameParent, const D3DXFRAME* pFrameChild) {
  if (!pFrameParent || !pFrameChild || pFrameParent == pFrameChild) return D3DERR_INVALIDCALL;
  D3DXFRAME** link = &pFrameParent->pFrameFirstChild;
  while (*link) {
    if (*link == pFrameChild) return D3DERR_INVALIDCALL;  // already a child: no cycle
    link = &(*link)->pFrameSibling;
  }
  *link = const_cast<D3DXFRAME*>(pFrameChild);
  return D3D_OK;
}

LPD3DXFRAME WINAPI D3DXFrameFind(const D3DXFRAME* pFrameRoot, LPCSTR Name) {
  const D3DXFRAME* found = nullptr;
  try {
    Walk(pFrameRoot, [&](const D3DXFRAME* f) {
      const bool match = Name ? (f->Name && std::strcmp(f->Name, Name) == 0) : !f->Name;
      if (match) found = f;
      return !match;
    });
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return const_cast<D3DXFRAME*>(found);
}

UINT WINAPI D3DXFrameNumNamedMatrices(const D3DXFRAME* pFrameRoot) {
  UINT count = 0;
  try {
    Walk(pFrameRoot, [&](const D3DXFRAME* f) {
      if (Named(f)) ++count;
      return true;
    });
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return count;
}

HRESULT WINAPI D3DXFrameRegisterNamedMatrices(LPD3DXFRAME pFrameRoot,
                                              LPD3DXANIMATIONCONTROLLER pAnimController) {
  if (!pFrameRoot || !pAnimController) return D3DERR_INVALIDCALL;
  HRESULT hr = D3D_OK;
  try {
    Walk(pFrameRoot, [&](const D3DXFRAME* f) {
      if (!Named(f)) return true;
      auto* frame = const_cast<D3DXFRAME*>(f);
      hr = pAnimController->RegisterAnimationOutput(frame->Name, &frame->TransformationMatrix,
                                                    nullptr, nullptr, nullptr);
      return SUCCEEDED(hr);
    });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return hr;
}

HRESULT WINAPI D3DXFrameCalculateBoundingSphere(const D3DXFRAME* pFrameRoot,
                                                LPD3DXVECTOR3 pObjectCenter, FLOAT* pObjectRadius) {
  if (!pFrameRoot || !pObjectCenter || !pObjectRadius) return D3DERR_INVALIDCALL;
  std::vector<D3DXVECTOR3> points;
  HRESULT hr = D3D_OK;
  try {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    std::vector<std::pair<const D3DXFRAME*, D3DXMATRIX>> stack{{pFrameRoot, identity}};
    std::vector<D3DXVECTOR3> positions;
    while (!stack.empty() && SUCCEEDED(hr)) {
      const auto [f, parent] = stack.back();
      stack.pop_back();
      if (f->pFrameSibling) stack.emplace_back(f->pFrameSibling, parent);
      const D3DXMATRIX world = f->TransformationMatrix * parent;
      if (f->pFrameFirstChild) stack.emplace_back(f->pFrameFirstChild, world);
      for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c && SUCCEEDED(hr);
           c = c->pNextMeshContainer) {
        if (c->MeshData.Type != D3DXMESHTYPE_MESH || !c->MeshData.pMesh) continue;
        hr = d3dx_mesh::ReadPositions(c->MeshData.pMesh, &positions);
        for (size_t i = 0; SUCCEEDED(hr) && i < positions.size(); ++i) {
          D3DXVECTOR3 p;
          D3DXVec3TransformCoord(&p, &positions[i], &world);
          points.push_back(p);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  if (points.empty()) {
    *pObjectCenter = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    *pObjectRadius = 0.0f;
    return D3D_OK;
  }
  return D3DXComputeBoundingSphere(points.data(), DWORD(points.size()), sizeof(D3DXVECTOR3),
                                   pObjectCenter, pObjectRadius);
}
