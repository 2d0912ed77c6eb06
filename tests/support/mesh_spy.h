// A mesh for tests that forwards to a real D3DX mesh and keeps a log of the calls a pass makes
// (subsets drawn, vertex-buffer locks and unlocks), and can be told to refuse vertex-buffer locks.
#pragma once

#include <string>
#include <vector>

#include "d3dx9.h"
#include "platform/win32/com_object.h"

namespace engine_test {

// Calls of every spy, in order: "<name>:draw <subset>", "<name>:lock", "<name>:unlock".
struct MeshCallLog {
  static inline std::vector<std::string> calls;
};

class MeshSpy final : public ComObject<ID3DXMesh> {
 public:
  // Takes a reference on `inner`.
  MeshSpy(ID3DXMesh* inner, std::string name) : inner_(inner), name_(std::move(name)) {
    inner_->AddRef();
  }
  ~MeshSpy() override { inner_->Release(); }

  bool failLocks = false;
  int openLocks = 0;

  HRESULT STDMETHODCALLTYPE DrawSubset(DWORD id) override {
    MeshCallLog::calls.push_back(name_ + ":draw " + std::to_string(id));
    return inner_->DrawSubset(id);
  }
  DWORD STDMETHODCALLTYPE GetNumFaces() override { return inner_->GetNumFaces(); }
  DWORD STDMETHODCALLTYPE GetNumVertices() override { return inner_->GetNumVertices(); }
  DWORD STDMETHODCALLTYPE GetFVF() override { return inner_->GetFVF(); }
  HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9 d[MAX_FVF_DECL_SIZE]) override {
    return inner_->GetDeclaration(d);
  }
  DWORD STDMETHODCALLTYPE GetNumBytesPerVertex() override { return inner_->GetNumBytesPerVertex(); }
  DWORD STDMETHODCALLTYPE GetOptions() override { return inner_->GetOptions(); }
  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* d) override {
    return inner_->GetDevice(d);
  }
  HRESULT STDMETHODCALLTYPE CloneMeshFVF(DWORD o, DWORD f, LPDIRECT3DDEVICE9 d,
                                         LPD3DXMESH* m) override {
    return inner_->CloneMeshFVF(o, f, d, m);
  }
  HRESULT STDMETHODCALLTYPE CloneMesh(DWORD o, const D3DVERTEXELEMENT9* e, LPDIRECT3DDEVICE9 d,
                                      LPD3DXMESH* m) override {
    return inner_->CloneMesh(o, e, d, m);
  }
  HRESULT STDMETHODCALLTYPE GetVertexBuffer(LPDIRECT3DVERTEXBUFFER9* b) override {
    return inner_->GetVertexBuffer(b);
  }
  HRESULT STDMETHODCALLTYPE GetIndexBuffer(LPDIRECT3DINDEXBUFFER9* b) override {
    return inner_->GetIndexBuffer(b);
  }
  HRESULT STDMETHODCALLTYPE LockVertexBuffer(DWORD flags, LPVOID* data) override {
    MeshCallLog::calls.push_back(name_ + ":lock");
    if (failLocks) {
      if (data != nullptr) *data = nullptr;
      return D3DERR_INVALIDCALL;
    }
    const HRESULT hr = inner_->LockVertexBuffer(flags, data);
    if (SUCCEEDED(hr)) ++openLocks;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE UnlockVertexBuffer() override {
    MeshCallLog::calls.push_back(name_ + ":unlock");
    const HRESULT hr = inner_->UnlockVertexBuffer();
    if (SUCCEEDED(hr)) --openLocks;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockIndexBuffer(DWORD f, LPVOID* d) override {
    return inner_->LockIndexBuffer(f, d);
  }
  HRESULT STDMETHODCALLTYPE UnlockIndexBuffer() override { return inner_->UnlockIndexBuffer(); }
  HRESULT STDMETHODCALLTYPE GetAttributeTable(D3DXATTRIBUTERANGE* t, DWORD* n) override {
    return inner_->GetAttributeTable(t, n);
  }
  HRESULT STDMETHODCALLTYPE ConvertPointRepsToAdjacency(const DWORD* p, DWORD* a) override {
    return inner_->ConvertPointRepsToAdjacency(p, a);
  }
  HRESULT STDMETHODCALLTYPE ConvertAdjacencyToPointReps(const DWORD* a, DWORD* p) override {
    return inner_->ConvertAdjacencyToPointReps(a, p);
  }
  HRESULT STDMETHODCALLTYPE GenerateAdjacency(FLOAT e, DWORD* a) override {
    return inner_->GenerateAdjacency(e, a);
  }
  HRESULT STDMETHODCALLTYPE UpdateSemantics(D3DVERTEXELEMENT9 d[MAX_FVF_DECL_SIZE]) override {
    return inner_->UpdateSemantics(d);
  }
  HRESULT STDMETHODCALLTYPE LockAttributeBuffer(DWORD f, DWORD** d) override {
    return inner_->LockAttributeBuffer(f, d);
  }
  HRESULT STDMETHODCALLTYPE UnlockAttributeBuffer() override {
    return inner_->UnlockAttributeBuffer();
  }
  HRESULT STDMETHODCALLTYPE Optimize(DWORD f, const DWORD* ai, DWORD* ao, DWORD* fr,
                                     LPD3DXBUFFER* vr, LPD3DXMESH* m) override {
    return inner_->Optimize(f, ai, ao, fr, vr, m);
  }
  HRESULT STDMETHODCALLTYPE OptimizeInplace(DWORD f, const DWORD* ai, DWORD* ao, DWORD* fr,
                                            LPD3DXBUFFER* vr) override {
    return inner_->OptimizeInplace(f, ai, ao, fr, vr);
  }
  HRESULT STDMETHODCALLTYPE SetAttributeTable(const D3DXATTRIBUTERANGE* t, DWORD n) override {
    return inner_->SetAttributeTable(t, n);
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_ID3DXMesh || riid == IID_ID3DXBaseMesh;
  }

 private:
  ID3DXMesh* inner_;
  std::string name_;
};

}  // namespace engine_test
