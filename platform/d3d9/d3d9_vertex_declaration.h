// IDirect3DVertexDeclaration9: vertex elements across streams, and the layout the pipeline reads.
#pragma once

#include <vector>

#include "d3d9/device_child.h"
#include "d3d9/pipeline/pipeline_state.h"

namespace d3d9 {

class VertexDeclaration final : public DeviceObject<IDirect3DVertexDeclaration9> {
 public:
  // Checks the elements (up to and without the D3DDECL_END marker) as Direct3D does; null for
  // a list it refuses.
  static VertexDeclaration* Create(std::shared_ptr<DeviceLink> link,
                                   const D3DVERTEXELEMENT9* elements);

  HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** ppDevice) override {
    return DeviceOf(ppDevice);
  }
  HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9* pElement,
                                           UINT* pNumElements) override;

  const std::vector<D3DVERTEXELEMENT9>& Elements() const { return elements_; }
  VertexLayout layout;

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_IDirect3DVertexDeclaration9;
  }

 private:
  explicit VertexDeclaration(std::shared_ptr<DeviceLink> link) : DeviceObject(std::move(link)) {}
  std::vector<D3DVERTEXELEMENT9> elements_;  // without the end marker
};

VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* d);

}  // namespace d3d9
