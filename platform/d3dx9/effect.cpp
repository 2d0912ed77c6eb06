// ID3DXEffect's handles, descriptions and parameter values. Handles are pointers into the
// effect's own tables, recognised by lookup before anything is read through them; anything else
// is read as a name.
#include <cstring>
#include <new>

#include "d3dx9/effect.h"
#include "d3dx9.h"

const IID IID_ID3DXEffectPool = {
    0x9537ab04, 0x3250, 0x412e, {0x82, 0x13, 0xfc, 0xd2, 0xf8, 0x67, 0x79, 0x33}};
const IID IID_ID3DXBaseEffect = {
    0x017c18ac, 0x103f, 0x4417, {0x8c, 0x51, 0x6b, 0xf6, 0xef, 0x1e, 0x56, 0xbe}};
const IID IID_ID3DXEffect = {
    0xf6ceb4b3, 0x4e4c, 0x40dd, {0xb8, 0x83, 0x8d, 0x8d, 0xe5, 0xea, 0x0c, 0xd5}};
const IID IID_ID3DXEffectStateManager = {
    0x79aab587, 0x6dbc, 0x4fa7, {0x82, 0xde, 0x37, 0xfa, 0x17, 0x81, 0xc5, 0xce}};

namespace vexa::fx {

namespace {

constexpr size_t kMaxName = 4096;

D3DXHANDLE AsHandle(const void* p) {
  return static_cast<D3DXHANDLE>(p);
}

// A name given as a handle; empty when it is longer than any name can be.
std::string_view NameOf(LPCSTR s) {
  if (!s) return {};
  const size_t n = strnlen(s, kMaxName);
  return n == kMaxName ? std::string_view() : std::string_view(s, n);
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return true;
}

template <class T>
T* Named(const std::vector<std::unique_ptr<T>>& list, std::string_view name) {
  if (name.empty()) return nullptr;
  for (const auto& t : list)
    if (t->name == name) return t.get();
  return nullptr;
}

bool IsMatrix(const Param* p) {
  return p->cls == D3DXPC_MATRIX_ROWS || p->cls == D3DXPC_MATRIX_COLUMNS;
}
bool IsVectorish(const Param* p) {
  return p->Numeric() && (p->cls == D3DXPC_SCALAR || p->cls == D3DXPC_VECTOR);
}
bool IsOneScalar(const Param* p) {
  return p->Numeric() && p->cls != D3DXPC_STRUCT && p->items.empty() && p->words == 1;
}

uint32_t ReadWord(const void* data, size_t i) {
  uint32_t w;
  std::memcpy(&w, static_cast<const char*>(data) + 4 * i, 4);
  return w;
}

}  // namespace

Effect::Effect(IDirect3DDevice9* device) : device_(device) {
  device_->AddRef();
}

Effect::~Effect() {
  saved_.Release();
  ReleaseShaders();
  for (IDirect3DBaseTexture9* t : textures_)
    if (t) t->Release();
  if (manager_) manager_->Release();
  device_->Release();
}

bool Effect::IsOwnInterface(REFIID riid) const {
  return riid == IID_ID3DXEffect || riid == IID_ID3DXBaseEffect;
}

// --- handles ------------------------------------------------------------------------------------

void Effect::Register(const Param* p) {
  handles_[p] = HandleKind::kParam;
  for (const auto& m : p->members) Register(m.get());
  for (const auto& e : p->items) Register(e.get());
  for (const auto& a : p->annotations) Register(a.get());
}

bool Effect::IsHandle(D3DXHANDLE h, HandleKind kind) const {
  auto it = handles_.find(h);
  return it != handles_.end() && it->second == kind;
}

Param* Effect::FindParam(D3DXHANDLE h) const {
  if (!h) return nullptr;
  auto it = handles_.find(h);
  if (it != handles_.end())
    return it->second == HandleKind::kParam ? reinterpret_cast<Param*>(const_cast<char*>(h))
                                            : nullptr;
  if (flags_ & D3DXFX_LARGEADDRESSAWARE) return nullptr;
  return ParamByPath(nullptr, NameOf(h));
}

// "a", "a.b", "a[2]", "a[2].b" below `parent` (the top level when null); "[2]" and ".b" forms
// apply to the parent itself.
Param* Effect::ParamByPath(const Param* parent, std::string_view path) const {
  const Param* cur = parent;
  size_t at = 0;
  bool first = true;
  if (path.empty()) return nullptr;
  while (at < path.size()) {
    if (path[at] == '[') {
      const size_t close = path.find(']', at);
      if (!cur || cur->items.empty() || close == std::string_view::npos || close == at + 1)
        return nullptr;
      size_t i = 0;
      for (size_t k = at + 1; k < close; ++k) {
        if (path[k] < '0' || path[k] > '9' || i > 1000000) return nullptr;
        i = i * 10 + size_t(path[k] - '0');
      }
      if (i >= cur->items.size()) return nullptr;
      cur = cur->items[i].get();
      at = close + 1;
      first = false;
      continue;
    }
    if (!first || (cur && path[at] == '.')) {
      if (path[at] != '.') return nullptr;
      ++at;
    }
    size_t end = at;
    while (end < path.size() && path[end] != '.' && path[end] != '[') ++end;
    const std::string_view name = path.substr(at, end - at);
    if (cur && (cur->cls != D3DXPC_STRUCT || !cur->items.empty())) return nullptr;
    const Param* found = Named(cur ? cur->members : params_, name);
    if (!found) return nullptr;
    cur = found;
    at = end;
    first = false;
  }
  return const_cast<Param*>(cur);
}

Technique* Effect::FindTechnique(D3DXHANDLE h) const {
  if (!h) return nullptr;
  auto it = handles_.find(h);
  if (it != handles_.end())
    return it->second == HandleKind::kTechnique ? reinterpret_cast<Technique*>(const_cast<char*>(h))
                                                : nullptr;
  if (flags_ & D3DXFX_LARGEADDRESSAWARE) return nullptr;
  return Named(techniques_, NameOf(h));
}

Pass* Effect::FindPass(D3DXHANDLE h) const {
  if (!h) return nullptr;
  auto it = handles_.find(h);
  if (it != handles_.end())
    return it->second == HandleKind::kPass ? reinterpret_cast<Pass*>(const_cast<char*>(h))
                                           : nullptr;
  if (flags_ & D3DXFX_LARGEADDRESSAWARE) return nullptr;
  // A pass name alone: the first pass of that name in any technique.
  for (const auto& t : techniques_)
    if (Pass* p = Named(t->passes, NameOf(h))) return p;
  return nullptr;
}

const std::vector<std::unique_ptr<Param>>* Effect::AnnotationsOf(D3DXHANDLE h) const {
  if (!h) return nullptr;
  auto it = handles_.find(h);
  if (it != handles_.end()) {
    switch (it->second) {
      case HandleKind::kParam:
        return &FindParam(h)->annotations;
      case HandleKind::kTechnique:
        return &FindTechnique(h)->annotations;
      case HandleKind::kPass:
        return &FindPass(h)->annotations;
      default:
        return nullptr;
    }
  }
  if (const Param* p = FindParam(h)) return &p->annotations;
  if (const Technique* t = FindTechnique(h)) return &t->annotations;
  if (const Pass* p = FindPass(h)) return &p->annotations;
  return nullptr;
}

D3DXHANDLE Effect::GetParameter(D3DXHANDLE h, UINT Index) {
  if (!h) return Index < params_.size() ? AsHandle(params_[Index].get()) : nullptr;
  const Param* p = FindParam(h);
  if (!p) return nullptr;
  if (!p->items.empty()) return Index < p->items.size() ? AsHandle(p->items[Index].get()) : nullptr;
  return Index < p->members.size() ? AsHandle(p->members[Index].get()) : nullptr;
}

D3DXHANDLE Effect::GetParameterByName(D3DXHANDLE h, LPCSTR pName) {
  const std::string_view name = NameOf(pName);
  if (name.empty()) return nullptr;
  if (!h) return AsHandle(ParamByPath(nullptr, name));
  const Param* p = FindParam(h);
  return p ? AsHandle(ParamByPath(p, name)) : nullptr;
}

D3DXHANDLE Effect::GetParameterBySemantic(D3DXHANDLE h, LPCSTR pSemantic) {
  const std::string_view semantic = NameOf(pSemantic);
  if (semantic.empty()) return nullptr;
  const std::vector<std::unique_ptr<Param>>* scope = &params_;
  if (h) {
    const Param* p = FindParam(h);
    if (!p || p->cls != D3DXPC_STRUCT || !p->items.empty()) return nullptr;
    scope = &p->members;
  }
  for (const auto& p : *scope)
    if (SameTextNoCase(p->semantic, semantic)) return AsHandle(p.get());
  return nullptr;
}

D3DXHANDLE Effect::GetParameterElement(D3DXHANDLE h, UINT Index) {
  const Param* p = FindParam(h);
  if (!p || Index >= p->items.size()) return nullptr;
  return AsHandle(p->items[Index].get());
}

D3DXHANDLE Effect::GetTechnique(UINT Index) {
  return Index < techniques_.size() ? AsHandle(techniques_[Index].get()) : nullptr;
}

D3DXHANDLE Effect::GetTechniqueByName(LPCSTR pName) {
  return AsHandle(Named(techniques_, NameOf(pName)));
}

D3DXHANDLE Effect::GetPass(D3DXHANDLE h, UINT Index) {
  const Technique* t = FindTechnique(h);
  if (!t || Index >= t->passes.size()) return nullptr;
  return AsHandle(t->passes[Index].get());
}

D3DXHANDLE Effect::GetPassByName(D3DXHANDLE h, LPCSTR pName) {
  const Technique* t = FindTechnique(h);
  return t ? AsHandle(Named(t->passes, NameOf(pName))) : nullptr;
}

D3DXHANDLE Effect::GetFunction(UINT Index) {
  return Index < functions_.size() ? AsHandle(functions_[Index].get()) : nullptr;
}

D3DXHANDLE Effect::GetFunctionByName(LPCSTR pName) {
  return AsHandle(Named(functions_, NameOf(pName)));
}

D3DXHANDLE Effect::GetAnnotation(D3DXHANDLE h, UINT Index) {
  const auto* list = AnnotationsOf(h);
  if (!list || Index >= list->size()) return nullptr;
  return AsHandle((*list)[Index].get());
}

D3DXHANDLE Effect::GetAnnotationByName(D3DXHANDLE h, LPCSTR pName) {
  const auto* list = AnnotationsOf(h);
  return list ? AsHandle(Named(*list, NameOf(pName))) : nullptr;
}

// --- descriptions -------------------------------------------------------------------------------

HRESULT Effect::GetDesc(D3DXEFFECT_DESC* pDesc) {
  if (!pDesc) return D3DERR_INVALIDCALL;
  pDesc->Creator = "Vexa HLSL effect compiler";
  pDesc->Parameters = UINT(params_.size());
  pDesc->Techniques = UINT(techniques_.size());
  pDesc->Functions = UINT(functions_.size());
  return D3D_OK;
}

HRESULT Effect::GetParameterDesc(D3DXHANDLE h, D3DXPARAMETER_DESC* pDesc) {
  const Param* p = FindParam(h);
  if (!p || !pDesc) return D3DERR_INVALIDCALL;
  pDesc->Name = p->name.c_str();
  pDesc->Semantic = p->semantic.empty() ? nullptr : p->semantic.c_str();
  pDesc->Class = p->cls;
  pDesc->Type = p->type;
  pDesc->Rows = p->rows;
  pDesc->Columns = p->columns;
  pDesc->Elements = p->elements;
  pDesc->Annotations = UINT(p->annotations.size());
  pDesc->StructMembers = UINT(p->items.empty() ? p->members.size() : p->items[0]->members.size());
  pDesc->Flags = p->flags;
  pDesc->Bytes = p->bytes;
  return D3D_OK;
}

HRESULT Effect::GetTechniqueDesc(D3DXHANDLE h, D3DXTECHNIQUE_DESC* pDesc) {
  const Technique* t = FindTechnique(h);
  if (!t || !pDesc) return D3DERR_INVALIDCALL;
  pDesc->Name = t->name.empty() ? nullptr : t->name.c_str();
  pDesc->Passes = UINT(t->passes.size());
  pDesc->Annotations = UINT(t->annotations.size());
  return D3D_OK;
}

HRESULT Effect::GetPassDesc(D3DXHANDLE h, D3DXPASS_DESC* pDesc) {
  const Pass* p = FindPass(h);
  if (!p || !pDesc) return D3DERR_INVALIDCALL;
  pDesc->Name = p->name.empty() ? nullptr : p->name.c_str();
  pDesc->Annotations = UINT(p->annotations.size());
  pDesc->pVertexShaderFunction = nullptr;
  pDesc->pPixelShaderFunction = nullptr;
  if (flags_ & D3DXFX_NOT_CLONEABLE) return D3D_OK;  // the code is not kept for the caller
  for (const Assignment& a : p->states) {
    if (a.kind != Assignment::kVertexShader && a.kind != Assignment::kPixelShader) continue;
    const ShaderValue* value = Chosen(a);
    if (!value || value->shader < 0) continue;
    const DWORD* code = shaders_[size_t(value->shader)].code.data();
    if (a.kind == Assignment::kVertexShader && !pDesc->pVertexShaderFunction)
      pDesc->pVertexShaderFunction = code;
    if (a.kind == Assignment::kPixelShader && !pDesc->pPixelShaderFunction)
      pDesc->pPixelShaderFunction = code;
  }
  return D3D_OK;
}

HRESULT Effect::GetFunctionDesc(D3DXHANDLE h, D3DXFUNCTION_DESC* pDesc) {
  if (!pDesc) return D3DERR_INVALIDCALL;
  const Function* f = nullptr;
  if (h && IsHandle(h, HandleKind::kFunction))
    f = reinterpret_cast<const Function*>(h);
  else if (h && !handles_.count(h) && !(flags_ & D3DXFX_LARGEADDRESSAWARE))
    f = Named(functions_, NameOf(h));
  if (!f) return D3DERR_INVALIDCALL;
  pDesc->Name = f->name.c_str();
  pDesc->Annotations = 0;
  return D3D_OK;
}

// --- values -------------------------------------------------------------------------------------

void Effect::MarkDirty(const Param* p) {
  const int top = p->root ? p->root->top : -1;
  if (top >= 0 && size_t(top) < dirty_.size()) dirty_[size_t(top)] = true;
}

// The first `count` scalars of a numeric parameter from 32-bit values of type `from`.
HRESULT Effect::SetNumbers(D3DXHANDLE h, UINT count, Scalar from, const void* data) {
  Param* p = FindParam(h);
  if (!p || !p->Numeric() || (!data && count) || count > p->words) return D3DERR_INVALIDCALL;
  size_t i = 0;
  ForEachWord(*p, [&](size_t w, Scalar s) {
    if (i < count) values_[w] = DoubleToWord(WordToDouble(ReadWord(data, i), from), s);
    ++i;
  });
  MarkDirty(p);
  return D3D_OK;
}

HRESULT Effect::GetNumbers(D3DXHANDLE h, UINT count, Scalar to, void* data) {
  const Param* p = FindParam(h);
  if (!p || !p->Numeric() || (!data && count) || count > p->words) return D3DERR_INVALIDCALL;
  size_t i = 0;
  ForEachWord(*p, [&](size_t w, Scalar s) {
    if (i < count) {
      const uint32_t out = DoubleToWord(WordToDouble(values_[w], s), to);
      std::memcpy(static_cast<char*>(data) + 4 * i, &out, 4);
    }
    ++i;
  });
  return D3D_OK;
}

HRESULT Effect::SetValue(D3DXHANDLE h, LPCVOID pData, UINT Bytes) {
  Param* p = FindParam(h);
  if (!p || !pData) return D3DERR_INVALIDCALL;
  if (p->Numeric()) {
    if (Bytes % 4 || Bytes > p->words * 4) return D3DERR_INVALIDCALL;
    size_t i = 0;
    ForEachWord(*p, [&](size_t w, Scalar s) {
      if (i < Bytes / 4) {
        const uint32_t raw = ReadWord(pData, i);
        values_[w] = s == Scalar::kBool ? (raw != 0) : raw;
      }
      ++i;
    });
    MarkDirty(p);
    return D3D_OK;
  }
  if (p->IsTexture()) {
    const size_t slots = p->elements ? p->elements : 1;
    if (Bytes % sizeof(void*) || Bytes / sizeof(void*) > slots) return D3DERR_INVALIDCALL;
    for (size_t i = 0; i < Bytes / sizeof(void*); ++i) {
      IDirect3DBaseTexture9* t;
      std::memcpy(&t, static_cast<const char*>(pData) + i * sizeof t, sizeof t);
      IDirect3DBaseTexture9*& slot = textures_[size_t(p->texture) + i];
      if (t) t->AddRef();
      if (slot) slot->Release();
      slot = t;
    }
    MarkDirty(p);
    return D3D_OK;
  }
  return D3DERR_INVALIDCALL;
}

HRESULT Effect::GetValue(D3DXHANDLE h, LPVOID pData, UINT Bytes) {
  const Param* p = FindParam(h);
  if (!p || !pData) return D3DERR_INVALIDCALL;
  if (p->Numeric()) {
    if (Bytes < p->words * 4) return D3DERR_INVALIDCALL;
    if (p->words) std::memcpy(pData, values_.data() + p->offset, p->words * 4);
    return D3D_OK;
  }
  if (p->IsTexture()) {
    const size_t slots = p->elements ? p->elements : 1;
    if (Bytes < slots * sizeof(void*)) return D3DERR_INVALIDCALL;
    for (size_t i = 0; i < slots; ++i) {
      IDirect3DBaseTexture9* t = textures_[size_t(p->texture) + i];
      if (t) t->AddRef();
      std::memcpy(static_cast<char*>(pData) + i * sizeof t, &t, sizeof t);
    }
    return D3D_OK;
  }
  if (p->type == D3DXPT_STRING) {
    if (Bytes < sizeof(LPCSTR)) return D3DERR_INVALIDCALL;
    const LPCSTR s = p->str.c_str();
    std::memcpy(pData, &s, sizeof s);
    return D3D_OK;
  }
  return D3DERR_INVALIDCALL;
}

HRESULT Effect::SetRawValue(D3DXHANDLE h, LPCVOID pData, UINT ByteOffset, UINT Bytes) {
  Param* p = FindParam(h);
  if (!p || !p->Numeric() || (!pData && Bytes)) return D3DERR_INVALIDCALL;
  const size_t size = p->words * 4;
  if (ByteOffset > size || Bytes > size - ByteOffset) return D3DERR_INVALIDCALL;
  if (Bytes)
    std::memcpy(reinterpret_cast<char*>(values_.data() + p->offset) + ByteOffset, pData, Bytes);
  MarkDirty(p);
  return D3D_OK;
}

HRESULT Effect::SetBool(D3DXHANDLE h, BOOL b) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p)) return D3DERR_INVALIDCALL;
  return SetNumbers(h, 1, Scalar::kBool, &b);
}
HRESULT Effect::GetBool(D3DXHANDLE h, BOOL* pb) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p) || !pb) return D3DERR_INVALIDCALL;
  return GetNumbers(h, 1, Scalar::kBool, pb);
}
HRESULT Effect::SetBoolArray(D3DXHANDLE h, const BOOL* pb, UINT Count) {
  return SetNumbers(h, Count, Scalar::kBool, pb);
}
HRESULT Effect::GetBoolArray(D3DXHANDLE h, BOOL* pb, UINT Count) {
  return GetNumbers(h, Count, Scalar::kBool, pb);
}
HRESULT Effect::SetInt(D3DXHANDLE h, INT n) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p)) return D3DERR_INVALIDCALL;
  return SetNumbers(h, 1, Scalar::kInt, &n);
}
HRESULT Effect::GetInt(D3DXHANDLE h, INT* pn) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p) || !pn) return D3DERR_INVALIDCALL;
  return GetNumbers(h, 1, Scalar::kInt, pn);
}
HRESULT Effect::SetIntArray(D3DXHANDLE h, const INT* pn, UINT Count) {
  return SetNumbers(h, Count, Scalar::kInt, pn);
}
HRESULT Effect::GetIntArray(D3DXHANDLE h, INT* pn, UINT Count) {
  return GetNumbers(h, Count, Scalar::kInt, pn);
}
HRESULT Effect::SetFloat(D3DXHANDLE h, FLOAT f) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p)) return D3DERR_INVALIDCALL;
  return SetNumbers(h, 1, Scalar::kFloat, &f);
}
HRESULT Effect::GetFloat(D3DXHANDLE h, FLOAT* pf) {
  const Param* p = FindParam(h);
  if (!p || !IsOneScalar(p) || !pf) return D3DERR_INVALIDCALL;
  return GetNumbers(h, 1, Scalar::kFloat, pf);
}
HRESULT Effect::SetFloatArray(D3DXHANDLE h, const FLOAT* pf, UINT Count) {
  return SetNumbers(h, Count, Scalar::kFloat, pf);
}
HRESULT Effect::GetFloatArray(D3DXHANDLE h, FLOAT* pf, UINT Count) {
  return GetNumbers(h, Count, Scalar::kFloat, pf);
}

HRESULT Effect::SetVector(D3DXHANDLE h, const D3DXVECTOR4* pVector) {
  const Param* p = FindParam(h);
  if (!p || !IsVectorish(p) || !p->items.empty()) return D3DERR_INVALIDCALL;
  return SetVectorArray(h, pVector, 1);
}
HRESULT Effect::GetVector(D3DXHANDLE h, D3DXVECTOR4* pVector) {
  const Param* p = FindParam(h);
  if (!p || !IsVectorish(p) || !p->items.empty()) return D3DERR_INVALIDCALL;
  return GetVectorArray(h, pVector, 1);
}

// Each element takes one vector, of which it keeps as many components as it has.
HRESULT Effect::SetVectorArray(D3DXHANDLE h, const D3DXVECTOR4* pVector, UINT Count) {
  Param* p = FindParam(h);
  if (!p || !IsVectorish(p) || (!pVector && Count)) return D3DERR_INVALIDCALL;
  const size_t elements = p->items.empty() ? 1 : p->items.size();
  if (Count > elements) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < Count; ++i) {
    const Param* e = p->items.empty() ? p : p->items[i].get();
    const float* v = &pVector[i].x;
    for (UINT c = 0; c < e->columns && c < 4; ++c)
      values_[e->offset + c] = DoubleToWord(v[c], e->scalar);
  }
  MarkDirty(p);
  return D3D_OK;
}

HRESULT Effect::GetVectorArray(D3DXHANDLE h, D3DXVECTOR4* pVector, UINT Count) {
  const Param* p = FindParam(h);
  if (!p || !IsVectorish(p) || (!pVector && Count)) return D3DERR_INVALIDCALL;
  const size_t elements = p->items.empty() ? 1 : p->items.size();
  if (Count > elements) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < Count; ++i) {
    const Param* e = p->items.empty() ? p : p->items[i].get();
    float v[4] = {0, 0, 0, 0};
    for (UINT c = 0; c < e->columns && c < 4; ++c)
      v[c] = float(WordToDouble(values_[e->offset + c], e->scalar));
    std::memcpy(&pVector[i], v, sizeof v);
  }
  return D3D_OK;
}

HRESULT Effect::SetMatrices(D3DXHANDLE h, const D3DXMATRIX* base, const D3DXMATRIX* const* list,
                            UINT count, bool transpose, bool array) {
  Param* p = FindParam(h);
  if (!p || !p->Numeric() || !IsMatrix(p) || (!array && !p->items.empty()))
    return D3DERR_INVALIDCALL;
  const size_t elements = p->items.empty() ? 1 : p->items.size();
  if (count > elements || (count && !base && !list)) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < count; ++i) {
    const D3DXMATRIX* m = list ? list[i] : base + i;
    if (!m) return D3DERR_INVALIDCALL;
    const Param* e = p->items.empty() ? p : p->items[i].get();
    const float* f = &m->_11;
    for (UINT r = 0; r < e->rows; ++r)
      for (UINT c = 0; c < e->columns; ++c)
        values_[e->offset + r * e->columns + c] =
            DoubleToWord(transpose ? f[c * 4 + r] : f[r * 4 + c], e->scalar);
  }
  MarkDirty(p);
  return D3D_OK;
}

HRESULT Effect::GetMatrices(D3DXHANDLE h, D3DXMATRIX* base, D3DXMATRIX* const* list, UINT count,
                            bool transpose, bool array) {
  const Param* p = FindParam(h);
  if (!p || !p->Numeric() || !IsMatrix(p) || (!array && !p->items.empty()))
    return D3DERR_INVALIDCALL;
  const size_t elements = p->items.empty() ? 1 : p->items.size();
  if (count > elements || (count && !base && !list)) return D3DERR_INVALIDCALL;
  for (UINT i = 0; i < count; ++i) {
    D3DXMATRIX* m = list ? list[i] : base + i;
    if (!m) return D3DERR_INVALIDCALL;
    const Param* e = p->items.empty() ? p : p->items[i].get();
    float f[16] = {};
    for (UINT r = 0; r < e->rows; ++r)
      for (UINT c = 0; c < e->columns; ++c)
        f[transpose ? c * 4 + r : r * 4 + c] =
            float(WordToDouble(values_[e->offset + r * e->columns + c], e->scalar));
    std::memcpy(&m->_11, f, sizeof f);
  }
  return D3D_OK;
}

HRESULT Effect::SetMatrix(D3DXHANDLE h, const D3DXMATRIX* pMatrix) {
  if (!pMatrix) return D3DERR_INVALIDCALL;
  return SetMatrices(h, pMatrix, nullptr, 1, false, false);
}
HRESULT Effect::GetMatrix(D3DXHANDLE h, D3DXMATRIX* pMatrix) {
  if (!pMatrix) return D3DERR_INVALIDCALL;
  return GetMatrices(h, pMatrix, nullptr, 1, false, false);
}
HRESULT Effect::SetMatrixArray(D3DXHANDLE h, const D3DXMATRIX* pMatrix, UINT Count) {
  return SetMatrices(h, pMatrix, nullptr, Count, false, true);
}
HRESULT Effect::GetMatrixArray(D3DXHANDLE h, D3DXMATRIX* pMatrix, UINT Count) {
  return GetMatrices(h, pMatrix, nullptr, Count, false, true);
}
HRESULT Effect::SetMatrixPointerArray(D3DXHANDLE h, const D3DXMATRIX** ppMatrix, UINT Count) {
  return SetMatrices(h, nullptr, ppMatrix, Count, false, true);
}
HRESULT Effect::GetMatrixPointerArray(D3DXHANDLE h, D3DXMATRIX** ppMatrix, UINT Count) {
  return GetMatrices(h, nullptr, ppMatrix, Count, false, true);
}
HRESULT Effect::SetMatrixTranspose(D3DXHANDLE h, const D3DXMATRIX* pMatrix) {
  if (!pMatrix) return D3DERR_INVALIDCALL;
  return SetMatrices(h, pMatrix, nullptr, 1, true, false);
}
HRESULT Effect::GetMatrixTranspose(D3DXHANDLE h, D3DXMATRIX* pMatrix) {
  if (!pMatrix) return D3DERR_INVALIDCALL;
  return GetMatrices(h, pMatrix, nullptr, 1, true, false);
}
HRESULT Effect::SetMatrixTransposeArray(D3DXHANDLE h, const D3DXMATRIX* pMatrix, UINT Count) {
  return SetMatrices(h, pMatrix, nullptr, Count, true, true);
}
HRESULT Effect::GetMatrixTransposeArray(D3DXHANDLE h, D3DXMATRIX* pMatrix, UINT Count) {
  return GetMatrices(h, pMatrix, nullptr, Count, true, true);
}
HRESULT Effect::SetMatrixTransposePointerArray(D3DXHANDLE h, const D3DXMATRIX** ppMatrix,
                                               UINT Count) {
  return SetMatrices(h, nullptr, ppMatrix, Count, true, true);
}
HRESULT Effect::GetMatrixTransposePointerArray(D3DXHANDLE h, D3DXMATRIX** ppMatrix, UINT Count) {
  return GetMatrices(h, nullptr, ppMatrix, Count, true, true);
}

HRESULT Effect::SetString(D3DXHANDLE h, LPCSTR pString) {
  Param* p = FindParam(h);
  if (!p || !pString || p->type != D3DXPT_STRING) return D3DERR_INVALIDCALL;
  try {
    p->str = pString;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT Effect::GetString(D3DXHANDLE h, LPCSTR* ppString) {
  const Param* p = FindParam(h);
  if (!p || !ppString || p->type != D3DXPT_STRING) return D3DERR_INVALIDCALL;
  *ppString = p->str.c_str();
  return D3D_OK;
}

HRESULT Effect::SetTexture(D3DXHANDLE h, LPDIRECT3DBASETEXTURE9 pTexture) {
  Param* p = FindParam(h);
  if (!p || !p->IsTexture() || !p->items.empty()) return D3DERR_INVALIDCALL;
  IDirect3DBaseTexture9*& slot = textures_[size_t(p->texture)];
  if (pTexture) pTexture->AddRef();
  if (slot) slot->Release();
  slot = pTexture;
  MarkDirty(p);
  return D3D_OK;
}

HRESULT Effect::GetTexture(D3DXHANDLE h, LPDIRECT3DBASETEXTURE9* ppTexture) {
  const Param* p = FindParam(h);
  if (!ppTexture) return D3DERR_INVALIDCALL;
  *ppTexture = nullptr;
  if (!p || !p->IsTexture() || !p->items.empty()) return D3DERR_INVALIDCALL;
  *ppTexture = textures_[size_t(p->texture)];
  if (*ppTexture) (*ppTexture)->AddRef();
  return D3D_OK;
}

// The device's shader of a shader parameter; null for NULL and while the device is lost.
HRESULT Effect::GetPixelShader(D3DXHANDLE h, LPDIRECT3DPIXELSHADER9* pp) {
  const Param* p = FindParam(h);
  if (!pp) return D3DERR_INVALIDCALL;
  *pp = nullptr;
  if (!p || p->type != D3DXPT_PIXELSHADER || p->shader < 0) return D3DERR_INVALIDCALL;
  const int shader = shader_values_[size_t(p->shader)].shader;
  if (shader >= 0) *pp = shaders_[size_t(shader)].ps;
  if (*pp) (*pp)->AddRef();
  return D3D_OK;
}

HRESULT Effect::GetVertexShader(D3DXHANDLE h, LPDIRECT3DVERTEXSHADER9* pp) {
  const Param* p = FindParam(h);
  if (!pp) return D3DERR_INVALIDCALL;
  *pp = nullptr;
  if (!p || p->type != D3DXPT_VERTEXSHADER || p->shader < 0) return D3DERR_INVALIDCALL;
  const int shader = shader_values_[size_t(p->shader)].shader;
  if (shader >= 0) *pp = shaders_[size_t(shader)].vs;
  if (*pp) (*pp)->AddRef();
  return D3D_OK;
}

HRESULT Effect::SetArrayRange(D3DXHANDLE h, UINT uStart, UINT uEnd) {
  return FindParam(h) ? D3D_OK : D3DERR_INVALIDCALL;
}

// --- techniques and the rest --------------------------------------------------------------------

HRESULT Effect::GetPool(LPD3DXEFFECTPOOL* ppPool) {
  if (!ppPool) return D3DERR_INVALIDCALL;
  *ppPool = nullptr;
  return D3D_OK;
}

HRESULT Effect::SetTechnique(D3DXHANDLE h) {
  Technique* t = FindTechnique(h);
  if (!t || begun_) return D3DERR_INVALIDCALL;
  current_ = t;
  return D3D_OK;
}

D3DXHANDLE Effect::GetCurrentTechnique() {
  return AsHandle(current_);
}

HRESULT Effect::ValidateTechnique(D3DXHANDLE h) {
  const Technique* t = FindTechnique(h);
  if (!t) return D3DERR_INVALIDCALL;
  for (const auto& p : t->passes)
    if (!Valid(*p)) return D3DXERR_INVALIDDATA;
  return D3D_OK;
}

HRESULT Effect::FindNextValidTechnique(D3DXHANDLE h, D3DXHANDLE* pNext) {
  if (!pNext) return D3DERR_INVALIDCALL;
  *pNext = nullptr;
  size_t start = 0;
  if (h) {
    const Technique* t = FindTechnique(h);
    if (!t) return D3DERR_INVALIDCALL;
    while (techniques_[start].get() != t) ++start;
    ++start;
  }
  for (size_t i = start; i < techniques_.size(); ++i) {
    if (ValidateTechnique(AsHandle(techniques_[i].get())) == D3D_OK) {
      *pNext = AsHandle(techniques_[i].get());
      break;
    }
  }
  return D3D_OK;
}

BOOL Effect::IsParameterUsed(D3DXHANDLE hParameter, D3DXHANDLE hTechnique) {
  const Param* p = FindParam(hParameter);
  const Technique* t = hTechnique ? FindTechnique(hTechnique) : current_;
  if (!p || !t || !p->root) return FALSE;
  for (const Param* u : t->used)
    if (u == p->root) return TRUE;
  return FALSE;
}

HRESULT Effect::GetDevice(LPDIRECT3DDEVICE9* ppDevice) {
  if (!ppDevice) return D3DERR_INVALIDCALL;
  device_->AddRef();
  *ppDevice = device_;
  return D3D_OK;
}

HRESULT Effect::SetStateManager(LPD3DXEFFECTSTATEMANAGER pManager) {
  if (pManager) pManager->AddRef();
  if (manager_) manager_->Release();
  manager_ = pManager;
  return D3D_OK;
}

HRESULT Effect::GetStateManager(LPD3DXEFFECTSTATEMANAGER* ppManager) {
  if (!ppManager) return D3DERR_INVALIDCALL;
  *ppManager = manager_;
  if (manager_) manager_->AddRef();
  return D3D_OK;
}

HRESULT Effect::BeginParameterBlock() {
  return E_NOTIMPL;
}
D3DXHANDLE Effect::EndParameterBlock() {
  return nullptr;
}
HRESULT Effect::ApplyParameterBlock(D3DXHANDLE h) {
  return E_NOTIMPL;
}
HRESULT Effect::DeleteParameterBlock(D3DXHANDLE h) {
  return E_NOTIMPL;
}

HRESULT Effect::CloneEffect(LPDIRECT3DDEVICE9 pDevice, ID3DXEffect** ppEffect) {
  if (ppEffect) *ppEffect = nullptr;
  if (!pDevice || !ppEffect || (flags_ & D3DXFX_NOT_CLONEABLE)) return D3DERR_INVALIDCALL;
  Effect* clone = nullptr;
  try {
    clone = new Effect(pDevice);
    std::string messages;
    if (!clone->Build(source_, macros_, flags_, "memory", &messages) ||
        clone->values_.size() != values_.size() || clone->textures_.size() != textures_.size()) {
      clone->Release();
      return D3DERR_INVALIDCALL;
    }
  } catch (const std::bad_alloc&) {
    if (clone) clone->Release();
    return E_OUTOFMEMORY;
  }
  clone->values_ = values_;
  for (size_t i = 0; i < textures_.size(); ++i) {
    clone->textures_[i] = textures_[i];
    if (textures_[i]) textures_[i]->AddRef();
  }
  for (size_t i = 0; i < techniques_.size(); ++i)
    if (techniques_[i].get() == current_) clone->current_ = clone->techniques_[i].get();
  *ppEffect = clone;
  return D3D_OK;
}

}  // namespace vexa::fx
