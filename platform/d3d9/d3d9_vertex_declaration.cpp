// Vertex declarations.
#include "d3d9/d3d9_vertex_declaration.h"

namespace d3d9 {

VertexDeclaration* VertexDeclaration::Create(std::shared_ptr<DeviceLink> link,
                                             const D3DVERTEXELEMENT9* e) {
  std::vector<D3DVERTEXELEMENT9> list;
  for (size_t i = 0;; ++i) {
    if (e[i].Stream == 0xFF) break;  // D3DDECL_END
    if (i >= MAXD3DDECLLENGTH) return nullptr;
    const D3DVERTEXELEMENT9& el = e[i];
    if (el.Stream >= kMaxStreams || el.Type >= D3DDECLTYPE_UNUSED ||
        el.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED || el.Usage > MAXD3DDECLUSAGE ||
        el.UsageIndex > MAXD3DDECLUSAGEINDEX || (el.Offset & 3) != 0)
      return nullptr;
    // One element per usage and index.
    for (const D3DVERTEXELEMENT9& other : list)
      if (other.Usage == el.Usage && other.UsageIndex == el.UsageIndex) return nullptr;
    list.push_back(el);
  }
  auto* d = new VertexDeclaration(std::move(link));
  d->elements_ = std::move(list);
  d->layout = VertexLayout::FromElements(d->elements_.data(), d->elements_.size());
  return d;
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* out, UINT* count) {
  if (!count) return D3DERR_INVALIDCALL;
  const UINT n = static_cast<UINT>(elements_.size()) + 1;  // with the end marker
  if (out) {
    for (size_t i = 0; i < elements_.size(); ++i) out[i] = elements_[i];
    out[elements_.size()] = D3DVERTEXELEMENT9{0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0};
  }
  *count = n;
  return D3D_OK;
}

VertexDeclaration* AsVertexDeclaration(IDirect3DVertexDeclaration9* d) {
  return dynamic_cast<VertexDeclaration*>(d);
}

}  // namespace d3d9
