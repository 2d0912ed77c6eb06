// ID3DXConstantTable over the CTAB comment of shader model 2 / 3 code, and the D3DX functions that
// inspect compiled shaders. The table comes from outside: every offset, count and string is
// checked against the comment's size before it is used.
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "win32/com_object.h"
#include "d3d9.h"
#include "d3dx9core.h"
#include "d3dx9math.h"
#include "d3dx9shader.h"
#include "shader/shader_reader.h"

#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_INVALIDDATA ((HRESULT)0x88760B59)
#endif

namespace {

constexpr size_t kMaxCodeDwords = size_t(1) << 20;
constexpr size_t kMaxNodes = 1 << 16;
constexpr int kMaxTypeDepth = 16;

// One constant, struct member or array element.
struct Node {
  std::string name;  // as D3DXCONSTANT_DESC::Name shows it
  D3DXCONSTANT_DESC desc{};
  std::vector<Node> kids;  // array elements, or struct members
  bool elements = false;   // kids are array elements
};

// A value to write, converted to the constant's type on the way.
struct Source {
  enum Kind { kFloat, kInt, kBool } kind = kFloat;
  const void* data = nullptr;
  UINT count = 0;  // scalars left
  UINT at = 0;

  float Float(UINT i) const {
    switch (kind) {
      case kFloat: {
        float f;
        std::memcpy(&f, static_cast<const BYTE*>(data) + 4 * i, 4);
        return f;
      }
      case kInt: {
        INT n;
        std::memcpy(&n, static_cast<const BYTE*>(data) + 4 * i, 4);
        return float(n);
      }
      default: {
        BOOL b;
        std::memcpy(&b, static_cast<const BYTE*>(data) + 4 * i, 4);
        return b ? 1.f : 0.f;
      }
    }
  }
  INT Int(UINT i) const {
    if (kind == kFloat) {
      const float f = Float(i);
      if (!(f == f)) return 0;
      if (f >= 2147483647.f) return 0x7FFFFFFF;
      if (f <= -2147483648.f) return INT(0x80000000u);
      return INT(f);
    }
    INT n;
    std::memcpy(&n, static_cast<const BYTE*>(data) + 4 * i, 4);
    return kind == kBool ? (n != 0) : n;
  }
};

class ConstantTable final : public ComObject<ID3DXConstantTable> {
 public:
  // Parses a CTAB (the bytes after the FOURCC). False on any defect.
  bool Parse(const BYTE* ctab, size_t size, DWORD shader_version) {
    data_.assign(ctab, ctab + size);
    vertex_ = (shader_version >> 16) == 0xFFFE;
    if (size < sizeof(D3DXSHADER_CONSTANTTABLE)) return false;
    D3DXSHADER_CONSTANTTABLE h;
    std::memcpy(&h, data_.data(), sizeof h);
    if (h.Size < sizeof h || h.Size > size) return false;
    if (!String(h.Creator, &creator_)) return false;
    if (h.Target && !String(h.Target, &target_)) return false;
    if (h.Constants > 4096) return false;
    if (h.Constants && !Fits(h.ConstantInfo, size_t(h.Constants) * sizeof(D3DXSHADER_CONSTANTINFO)))
      return false;
    desc_.Creator = creator_.c_str();
    desc_.Version = h.Version;
    desc_.Constants = h.Constants;
    roots_.resize(h.Constants);
    for (DWORD i = 0; i < h.Constants; ++i) {
      D3DXSHADER_CONSTANTINFO info;
      std::memcpy(&info, &data_[h.ConstantInfo + i * sizeof info], sizeof info);
      Node& n = roots_[i];
      if (!String(info.Name, &n.name)) return false;
      if (info.RegisterSet > D3DXRS_SAMPLER) return false;
      n.desc.RegisterSet = D3DXREGISTER_SET(info.RegisterSet);
      n.desc.RegisterIndex = info.RegisterIndex;
      n.desc.RegisterCount = info.RegisterCount;
      if (!Type(info.TypeInfo, &n, 0)) return false;
      if (info.DefaultValue && Fits(info.DefaultValue, size_t(info.RegisterCount) * 16))
        n.desc.DefaultValue = &data_[info.DefaultValue];
      SetRegisterSet(&n, n.desc.RegisterSet);
      Layout(&n, n.desc.RegisterIndex, n.desc.RegisterCount);
    }
    Name(roots_);
    return true;
  }

  // ID3DXBuffer
  LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return data_.data(); }
  DWORD STDMETHODCALLTYPE GetBufferSize() override { return DWORD(data_.size()); }

  HRESULT STDMETHODCALLTYPE GetDesc(D3DXCONSTANTTABLE_DESC* desc) override {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConstantDesc(D3DXHANDLE h, D3DXCONSTANT_DESC* desc,
                                            UINT* count) override {
    const Node* n = Find(h);
    if (!n) return D3DERR_INVALIDCALL;
    if (desc) *desc = n->desc;
    if (count) *count = 1;
    return D3D_OK;
  }
  UINT STDMETHODCALLTYPE GetSamplerIndex(D3DXHANDLE h) override {
    const Node* n = Find(h);
    if (!n || n->desc.RegisterSet != D3DXRS_SAMPLER) return UINT(-1);
    return n->desc.RegisterIndex;
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstant(D3DXHANDLE parent, UINT index) override {
    if (!parent) return index < roots_.size() ? Handle(&roots_[index]) : nullptr;
    const Node* n = Find(parent);
    if (!n || n->elements || index >= n->kids.size()) return nullptr;
    return Handle(&n->kids[index]);
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstantByName(D3DXHANDLE parent, LPCSTR name) override {
    if (!name) return nullptr;
    if (!parent) return Handle(Lookup(roots_, name));
    const Node* n = Find(parent);
    if (!n) return nullptr;
    return Handle(Lookup(n->kids, name, n->elements));
  }
  D3DXHANDLE STDMETHODCALLTYPE GetConstantElement(D3DXHANDLE h, UINT index) override {
    const Node* n = Find(h);
    if (!n || index >= n->desc.Elements) return nullptr;
    return Handle(n->elements ? &n->kids[index] : n);
  }

  HRESULT STDMETHODCALLTYPE SetDefaults(LPDIRECT3DDEVICE9 device) override {
    if (!device) return D3DERR_INVALIDCALL;
    for (const Node& n : roots_) {
      if (!n.desc.DefaultValue || n.desc.RegisterSet == D3DXRS_SAMPLER) continue;
      const float* f = static_cast<const float*>(n.desc.DefaultValue);
      std::vector<float> regs(f, f + n.desc.RegisterCount * 4);
      HRESULT hr = D3D_OK;
      if (n.desc.RegisterSet == D3DXRS_FLOAT4) {
        hr = SetF(device, n.desc.RegisterIndex, regs.data(), n.desc.RegisterCount);
      } else if (n.desc.RegisterSet == D3DXRS_INT4) {
        std::vector<INT> v(regs.size());
        for (size_t i = 0; i < regs.size(); ++i) v[i] = INT(regs[i]);
        hr = SetI(device, n.desc.RegisterIndex, v.data(), n.desc.RegisterCount);
      } else {
        for (UINT r = 0; r < n.desc.RegisterCount && SUCCEEDED(hr); ++r) {
          const BOOL b = regs[r * 4] != 0.f;
          hr = SetB(device, n.desc.RegisterIndex + r, &b, 1);
        }
      }
      if (FAILED(hr)) return hr;
    }
    return D3D_OK;
  }

  HRESULT STDMETHODCALLTYPE SetValue(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, LPCVOID data,
                                     UINT bytes) override {
    const Node* n = Find(h);
    if (!device || !n || !data || bytes % 4) return D3DERR_INVALIDCALL;
    Source s;
    s.kind = n->desc.Type == D3DXPT_FLOAT ? Source::kFloat
             : n->desc.Type == D3DXPT_INT ? Source::kInt
                                          : Source::kBool;
    s.data = data;
    s.count = bytes / 4;
    return Fill(device, *n, &s);
  }
  HRESULT STDMETHODCALLTYPE SetBool(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, BOOL b) override {
    return SetScalar(device, h, Source::kBool, &b);
  }
  HRESULT STDMETHODCALLTYPE SetBoolArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, const BOOL* b,
                                         UINT count) override {
    return SetArray(device, h, Source::kBool, b, count);
  }
  HRESULT STDMETHODCALLTYPE SetInt(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, INT n) override {
    return SetScalar(device, h, Source::kInt, &n);
  }
  HRESULT STDMETHODCALLTYPE SetIntArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, const INT* n,
                                        UINT count) override {
    return SetArray(device, h, Source::kInt, n, count);
  }
  HRESULT STDMETHODCALLTYPE SetFloat(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, FLOAT f) override {
    return SetScalar(device, h, Source::kFloat, &f);
  }
  HRESULT STDMETHODCALLTYPE SetFloatArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, const FLOAT* f,
                                          UINT count) override {
    return SetArray(device, h, Source::kFloat, f, count);
  }
  HRESULT STDMETHODCALLTYPE SetVector(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                      const D3DXVECTOR4* v) override {
    return SetVectorArray(device, h, v, 1);
  }
  // Each element takes one vector, of which it uses as many components as it has.
  HRESULT STDMETHODCALLTYPE SetVectorArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                           const D3DXVECTOR4* v, UINT count) override {
    const Node* n = Find(h);
    if (!device || !n || !v) return D3DERR_INVALIDCALL;
    std::vector<const Node*> el;
    Elements(*n, &el);
    for (UINT i = 0; i < count && i < el.size(); ++i) {
      const Node& e = *el[i];
      if (e.desc.Class != D3DXPC_SCALAR && e.desc.Class != D3DXPC_VECTOR) continue;
      Source s;
      s.data = &v[i];
      s.count = e.desc.Columns;
      const HRESULT hr = Fill(device, e, &s);
      if (FAILED(hr)) return hr;
    }
    return D3D_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMatrix(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                      const D3DXMATRIX* m) override {
    return Matrices(device, h, &m, 1, false, true);
  }
  HRESULT STDMETHODCALLTYPE SetMatrixArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                           const D3DXMATRIX* m, UINT count) override {
    if (!m) return D3DERR_INVALIDCALL;
    std::vector<const D3DXMATRIX*> p(count);
    for (UINT i = 0; i < count; ++i) p[i] = m + i;
    return Matrices(device, h, p.data(), count, false, false);
  }
  HRESULT STDMETHODCALLTYPE SetMatrixPointerArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                                  const D3DXMATRIX** m, UINT count) override {
    return Matrices(device, h, m, count, false, false);
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTranspose(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                               const D3DXMATRIX* m) override {
    return Matrices(device, h, &m, 1, true, true);
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTransposeArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                                    const D3DXMATRIX* m, UINT count) override {
    if (!m) return D3DERR_INVALIDCALL;
    std::vector<const D3DXMATRIX*> p(count);
    for (UINT i = 0; i < count; ++i) p[i] = m + i;
    return Matrices(device, h, p.data(), count, true, false);
  }
  HRESULT STDMETHODCALLTYPE SetMatrixTransposePointerArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h,
                                                           const D3DXMATRIX** m,
                                                           UINT count) override {
    return Matrices(device, h, m, count, true, false);
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_ID3DXConstantTable; }

 private:
  std::vector<BYTE> data_;
  std::string creator_, target_;
  D3DXCONSTANTTABLE_DESC desc_{};
  std::vector<Node> roots_;
  std::unordered_set<const void*> handles_;
  size_t nodes_ = 0;
  bool vertex_ = true;

  bool Fits(DWORD offset, size_t bytes) const {
    return offset <= data_.size() && bytes <= data_.size() - offset;
  }
  bool String(DWORD offset, std::string* out) const {
    if (offset >= data_.size()) return false;
    const void* end = std::memchr(&data_[offset], 0, data_.size() - offset);
    if (!end) return false;
    out->assign(reinterpret_cast<const char*>(&data_[offset]));
    return out->size() <= 1024;
  }

  bool Type(DWORD offset, Node* n, int depth) {
    if (depth > kMaxTypeDepth || !Fits(offset, sizeof(D3DXSHADER_TYPEINFO))) return false;
    if (++nodes_ > kMaxNodes) return false;
    D3DXSHADER_TYPEINFO t;
    std::memcpy(&t, &data_[offset], sizeof t);
    if (t.Class > D3DXPC_STRUCT || t.Type > D3DXPT_UNSUPPORTED) return false;
    if (t.Rows > 4 || t.Columns > 4 * 1024 || t.Elements == 0 || t.Elements > 4096) return false;
    D3DXCONSTANT_DESC& d = n->desc;
    d.Class = D3DXPARAMETER_CLASS(t.Class);
    d.Type = D3DXPARAMETER_TYPE(t.Type);
    d.Rows = t.Rows;
    d.Columns = t.Columns;
    d.Elements = t.Elements;
    d.StructMembers = t.StructMembers;
    std::vector<Node> members;
    if (t.Class == D3DXPC_STRUCT) {
      if (t.StructMembers == 0 || t.StructMembers > 1024 ||
          !Fits(t.StructMemberInfo, size_t(t.StructMembers) * sizeof(D3DXSHADER_STRUCTMEMBERINFO)))
        return false;
      members.resize(t.StructMembers);
      UINT bytes = 0;
      for (WORD i = 0; i < t.StructMembers; ++i) {
        D3DXSHADER_STRUCTMEMBERINFO m;
        std::memcpy(&m, &data_[t.StructMemberInfo + i * sizeof m], sizeof m);
        if (!String(m.Name, &members[i].name)) return false;
        if (!Type(m.TypeInfo, &members[i], depth + 1)) return false;
        bytes += members[i].desc.Bytes;
      }
      d.Bytes = bytes * t.Elements;
    } else {
      if (t.StructMembers) return false;
      d.Bytes = 4u * t.Rows * t.Columns * t.Elements;
    }
    if (t.Elements > 1) {
      if ((nodes_ += t.Elements) > kMaxNodes) return false;
      n->elements = true;
      n->kids.resize(t.Elements);
      for (Node& e : n->kids) {
        e.desc = d;
        e.desc.Elements = 1;
        e.desc.Bytes = d.Bytes / t.Elements;
        e.kids = members;
      }
    } else {
      n->kids = std::move(members);
    }
    return true;
  }

  // Registers one element (or the whole non-array constant) takes.
  static UINT Registers(const Node& n) {
    const D3DXCONSTANT_DESC& d = n.desc;
    if (n.elements) return UINT(n.kids.size()) * Registers(n.kids[0]);
    switch (d.Class) {
      case D3DXPC_STRUCT: {
        UINT r = 0;
        for (const Node& m : n.kids) r += Registers(m);
        return r;
      }
      case D3DXPC_MATRIX_ROWS:
        return d.RegisterSet == D3DXRS_BOOL ? d.Rows * d.Columns : d.Rows;
      case D3DXPC_MATRIX_COLUMNS:
        return d.RegisterSet == D3DXRS_BOOL ? d.Rows * d.Columns : d.Columns;
      default:
        return d.RegisterSet == D3DXRS_BOOL ? d.Columns : 1;
    }
  }

  static void SetRegisterSet(Node* n, D3DXREGISTER_SET set) {
    n->desc.RegisterSet = set;
    for (Node& k : n->kids) SetRegisterSet(&k, set);
  }

  // Register index and count of every member and element, within what the table gave.
  void Layout(Node* n, UINT index, UINT count) {
    n->desc.RegisterIndex = index;
    n->desc.RegisterCount = count;
    UINT at = index, left = count;
    for (Node& k : n->kids) {
      const UINT want = Registers(k);
      const UINT take = want < left ? want : left;
      Layout(&k, at, take);
      at += take;
      left -= take;
    }
  }

  void Name(std::vector<Node>& nodes) {
    for (Node& n : nodes) {
      n.desc.Name = n.name.c_str();
      handles_.insert(&n);
      for (Node& k : n.kids) {
        if (n.elements) k.name = n.name;
      }
      Name(n.kids);
    }
  }

  D3DXHANDLE Handle(const Node* n) const { return reinterpret_cast<D3DXHANDLE>(n); }

  // A handle this table gave, or a name ("a", "a.b", "a[2]", "a[2].b").
  const Node* Find(D3DXHANDLE h) const {
    if (!h) return nullptr;
    if (handles_.count(h)) return reinterpret_cast<const Node*>(h);
    return Lookup(roots_, h);
  }
  const Node* Lookup(const std::vector<Node>& nodes, const char* path,
                     bool elements = false) const {
    std::string_view p(path, strnlen(path, 4096));
    const std::vector<Node>* level = &nodes;
    const Node* cur = nullptr;
    bool first = true;
    while (!p.empty()) {
      if (p[0] == '[') {
        const size_t close = p.find(']');
        if (!cur || !cur->elements || close == std::string_view::npos || close == 1) return nullptr;
        size_t i = 0;
        for (size_t k = 1; k < close; ++k) {
          if (p[k] < '0' || p[k] > '9' || i > 100000) return nullptr;
          i = i * 10 + size_t(p[k] - '0');
        }
        if (i >= cur->kids.size()) return nullptr;
        cur = &cur->kids[i];
        level = &cur->kids;
        p = p.substr(close + 1);
        continue;
      }
      if (!first) {
        if (p[0] != '.') return nullptr;
        p = p.substr(1);
      }
      size_t end = 0;
      while (end < p.size() && p[end] != '.' && p[end] != '[') ++end;
      const std::string_view name = p.substr(0, end);
      const Node* found = nullptr;
      if (first && elements) return nullptr;
      for (const Node& n : *level)
        if (n.name == name) found = &n;
      if (!found) return nullptr;
      cur = found;
      level = cur->elements ? &cur->kids : &cur->kids;
      p = p.substr(end);
      first = false;
    }
    return cur;
  }

  HRESULT SetF(LPDIRECT3DDEVICE9 d, UINT reg, const float* v, UINT count) const {
    return vertex_ ? d->SetVertexShaderConstantF(reg, v, count)
                   : d->SetPixelShaderConstantF(reg, v, count);
  }
  HRESULT SetI(LPDIRECT3DDEVICE9 d, UINT reg, const INT* v, UINT count) const {
    return vertex_ ? d->SetVertexShaderConstantI(reg, v, count)
                   : d->SetPixelShaderConstantI(reg, v, count);
  }
  HRESULT SetB(LPDIRECT3DDEVICE9 d, UINT reg, const BOOL* v, UINT count) const {
    return vertex_ ? d->SetVertexShaderConstantB(reg, v, count)
                   : d->SetPixelShaderConstantB(reg, v, count);
  }

  static void Elements(const Node& n, std::vector<const Node*>* out) {
    if (n.elements)
      for (const Node& e : n.kids) out->push_back(&e);
    else
      out->push_back(&n);
  }

  // Writes the registers of one scalar, vector or matrix element from values[row][column].
  HRESULT WriteElement(LPDIRECT3DDEVICE9 device, const Node& n, const float v[4][4],
                       const INT iv[4][4]) const {
    const D3DXCONSTANT_DESC& d = n.desc;
    if (d.RegisterCount == 0 || d.RegisterSet == D3DXRS_SAMPLER) return D3D_OK;
    const bool cols = d.Class == D3DXPC_MATRIX_COLUMNS;
    const UINT rows = d.Rows ? d.Rows : 1, columns = d.Columns < 4 ? d.Columns : 4;
    if (d.RegisterSet == D3DXRS_BOOL) {
      UINT r = 0;
      for (UINT i = 0; i < rows; ++i)
        for (UINT j = 0; j < columns && r < d.RegisterCount; ++j, ++r) {
          const BOOL b = iv[i][j] != 0;
          const HRESULT hr = SetB(device, d.RegisterIndex + r, &b, 1);
          if (FAILED(hr)) return hr;
        }
      return D3D_OK;
    }
    const UINT regs = cols ? columns : rows;
    const UINT count = regs < d.RegisterCount ? regs : d.RegisterCount;
    const UINT lanes = cols ? rows : columns;
    if (d.RegisterSet == D3DXRS_INT4) {
      INT out[16];
      for (UINT r = 0; r < count; ++r) {
        const INT unset[4] = {0, 0, 1, 0};
        for (UINT c = 0; c < 4; ++c)
          out[r * 4 + c] = c < lanes ? (cols ? iv[c][r] : iv[r][c]) : unset[c];
      }
      return SetI(device, d.RegisterIndex, out, count);
    }
    float out[16];
    for (UINT r = 0; r < count; ++r)
      for (UINT c = 0; c < 4; ++c) out[r * 4 + c] = c < lanes ? (cols ? v[c][r] : v[r][c]) : 0.f;
    return SetF(device, d.RegisterIndex, out, count);
  }

  // Consumes scalars from `s` element by element, member by member, rows first; an element
  // the remaining values do not cover is left alone.
  HRESULT Fill(LPDIRECT3DDEVICE9 device, const Node& n, Source* s) const {
    if (n.elements || n.desc.Class == D3DXPC_STRUCT) {
      for (const Node& k : n.kids) {
        const HRESULT hr = Fill(device, k, s);
        if (FAILED(hr)) return hr;
      }
      return D3D_OK;
    }
    if (n.desc.Class == D3DXPC_OBJECT) return D3D_OK;
    const UINT rows = n.desc.Rows ? n.desc.Rows : 1,
               columns = n.desc.Columns < 4 ? n.desc.Columns : 4;
    if (s->count - s->at < rows * columns) {
      s->at = s->count;
      return D3D_OK;
    }
    float v[4][4] = {};
    INT iv[4][4] = {};
    const bool is_float = n.desc.Type == D3DXPT_FLOAT;
    const bool is_bool = n.desc.Type == D3DXPT_BOOL;
    for (UINT r = 0; r < rows; ++r)
      for (UINT c = 0; c < columns; ++c) {
        const UINT i = s->at++;
        iv[r][c] = is_bool ? (s->Float(i) != 0.f) : s->Int(i);
        v[r][c] = is_float ? s->Float(i) : float(iv[r][c]);
      }
    return WriteElement(device, n, v, iv);
  }

  // SetFloat / SetInt / SetBool: scalars only; other classes are left alone, as D3DX does.
  HRESULT SetScalar(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, Source::Kind kind, const void* value) {
    const Node* n = Find(h);
    if (!device || !n) return D3DERR_INVALIDCALL;
    if (n->desc.Class != D3DXPC_SCALAR || n->elements) return D3D_OK;
    Source s;
    s.kind = kind;
    s.data = value;
    s.count = 1;
    return Fill(device, *n, &s);
  }
  HRESULT SetArray(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, Source::Kind kind, const void* values,
                   UINT count) {
    const Node* n = Find(h);
    if (!device || !n || (!values && count)) return D3DERR_INVALIDCALL;
    Source s;
    s.kind = kind;
    s.data = values;
    s.count = count;
    return Fill(device, *n, &s);
  }

  HRESULT Matrices(LPDIRECT3DDEVICE9 device, D3DXHANDLE h, const D3DXMATRIX* const* m, UINT count,
                   bool transpose, bool single) {
    const Node* n = Find(h);
    if (!device || !n || (!m && count)) return D3DERR_INVALIDCALL;
    std::vector<const Node*> el;
    Elements(*n, &el);
    if (single && el.size() > 1) el.resize(1);
    for (UINT i = 0; i < count && i < el.size(); ++i) {
      const Node& e = *el[i];
      if (e.desc.Class != D3DXPC_MATRIX_ROWS && e.desc.Class != D3DXPC_MATRIX_COLUMNS) continue;
      if (!m[i]) return D3DERR_INVALIDCALL;
      const float* f = &m[i]->_11;
      float v[4][4];
      INT iv[4][4];
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
          v[r][c] = transpose ? f[c * 4 + r] : f[r * 4 + c];
          iv[r][c] = INT(v[r][c]);
        }
      const HRESULT hr = WriteElement(device, e, v, iv);
      if (FAILED(hr)) return hr;
    }
    return D3D_OK;
  }
};

}  // namespace

DWORD WINAPI D3DXGetShaderVersion(const DWORD* pFunction) {
  if (!pFunction) return 0;
  const DWORD v = pFunction[0];
  return (v >> 16) == 0xFFFE || (v >> 16) == 0xFFFF ? v : 0;
}

UINT WINAPI D3DXGetShaderSize(const DWORD* pFunction) {
  if (!D3DXGetShaderVersion(pFunction)) return 0;
  return UINT(vexa::sm::CodeSize(pFunction, kMaxCodeDwords) * 4);
}

HRESULT WINAPI D3DXGetShaderConstantTableEx(const DWORD* pFunction, DWORD Flags,
                                            LPD3DXCONSTANTTABLE* ppConstantTable) {
  if (!ppConstantTable) return D3DERR_INVALIDCALL;
  *ppConstantTable = nullptr;
  if (!pFunction) return D3DERR_INVALIDCALL;
  const DWORD version = D3DXGetShaderVersion(pFunction);
  if (!version) return D3DXERR_INVALIDDATA;
  size_t dwords = 0;
  const DWORD* ctab =
      vexa::sm::FindComment(pFunction, kMaxCodeDwords, MAKEFOURCC('C', 'T', 'A', 'B'), &dwords);
  if (!ctab) return D3DXERR_INVALIDDATA;
  try {
    auto* table = new ConstantTable;
    if (!table->Parse(reinterpret_cast<const BYTE*>(ctab), dwords * 4, version)) {
      table->Release();
      return D3DXERR_INVALIDDATA;
    }
    *ppConstantTable = table;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  (void)Flags;
  return D3D_OK;
}

HRESULT WINAPI D3DXGetShaderConstantTable(const DWORD* pFunction,
                                          LPD3DXCONSTANTTABLE* ppConstantTable) {
  return D3DXGetShaderConstantTableEx(pFunction, 0, ppConstantTable);
}

static HRESULT Semantics(const DWORD* pFunction, D3DXSEMANTIC* out, UINT* count, bool inputs) {
  if (!pFunction || !count) return D3DERR_INVALIDCALL;
  vexa::ShaderProgram program;
  std::string why;
  try {
    if (!vexa::CreateShaderProgram(pFunction, kMaxCodeDwords, &program, &why))
      return D3DXERR_INVALIDDATA;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const std::vector<vexa::ShaderSemantic>& list = inputs ? program.inputs() : program.outputs();
  *count = UINT(list.size());
  if (out)
    for (size_t i = 0; i < list.size(); ++i)
      out[i] = D3DXSEMANTIC{list[i].usage, list[i].usage_index};
  return D3D_OK;
}

HRESULT WINAPI D3DXGetShaderInputSemantics(const DWORD* pFunction, D3DXSEMANTIC* pSemantics,
                                           UINT* pCount) {
  return Semantics(pFunction, pSemantics, pCount, true);
}
HRESULT WINAPI D3DXGetShaderOutputSemantics(const DWORD* pFunction, D3DXSEMANTIC* pSemantics,
                                            UINT* pCount) {
  return Semantics(pFunction, pSemantics, pCount, false);
}
