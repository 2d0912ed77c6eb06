// Running an effect: Begin saves the device state the technique's passes change, BeginPass
// applies a pass (states, shaders, their constants and samplers), CommitChanges re-applies what
// reads parameters changed since, End restores the saved state. Every device call goes through
// the state manager when one is set.
#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

#include "d3dx9/effect.h"
#include "d3dx9.h"

namespace vexa::fx {

int64_t ToInteger(double v) {
  if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18) return 0;
  return int64_t(v);
}

double Arithmetic(Expr::Op op, double a, double b) {
  switch (op) {
    case Expr::kAdd:
      return a + b;
    case Expr::kSub:
      return a - b;
    case Expr::kMul:
      return a * b;
    case Expr::kDiv:
      return a / b;
    case Expr::kMod:
      if (a == std::trunc(a) && b == std::trunc(b)) {
        const int64_t x = ToInteger(a), y = ToInteger(b);
        return y == 0 || (y == -1) ? 0 : double(x % y);
      }
      return b == 0 ? 0 : std::fmod(a, b);
    case Expr::kOr:
      return double(ToInteger(a) | ToInteger(b));
    case Expr::kAnd:
      return double(ToInteger(a) & ToInteger(b));
    case Expr::kXor:
      return double(ToInteger(a) ^ ToInteger(b));
    case Expr::kShl:
      return double(int64_t(uint64_t(ToInteger(a)) << (uint64_t(ToInteger(b)) & 31)));
    case Expr::kShr:
      return double(ToInteger(a) >> (uint64_t(ToInteger(b)) & 31));
    default:
      return 0;
  }
}

double Evaluate(const Expr& e, size_t i, const std::vector<uint32_t>& values) {
  if (e.size <= 1) i = 0;
  if (i >= e.size && e.size > 1) return 0;
  switch (e.op) {
    case Expr::kConst:
      return e.value.empty() ? 0 : e.value[i < e.value.size() ? i : 0];
    case Expr::kParam: {
      const Param* p = e.param;
      if (!p || i >= p->words || p->offset + i >= values.size()) return 0;
      return WordToDouble(values[p->offset + i], p->scalar);
    }
    case Expr::kList:
      for (const Expr& k : e.kids) {
        if (i < k.size) return Evaluate(k, i, values);
        i -= k.size;
      }
      return 0;
    case Expr::kCast: {
      const double x = e.kids.empty() ? 0 : Evaluate(e.kids[0], i, values);
      switch (e.cast) {
        case Scalar::kBool:
          return x != 0 ? 1 : 0;
        case Scalar::kInt:
          return std::isfinite(x) ? std::trunc(x) : 0;
        default:
          return double(float(x));
      }
    }
    case Expr::kNeg:
      return e.kids.empty() ? 0 : -Evaluate(e.kids[0], i, values);
    case Expr::kNot:
      return e.kids.empty() || Evaluate(e.kids[0], i, values) == 0 ? 1 : 0;
    case Expr::kBitNot:
      return e.kids.empty() ? 0 : double(~ToInteger(Evaluate(e.kids[0], i, values)));
    default:
      if (e.kids.size() != 2) return 0;
      return Arithmetic(e.op, Evaluate(e.kids[0], i, values), Evaluate(e.kids[1], i, values));
  }
}

bool Effect::Valid(const Pass& pass) const {
  auto made = [&](int value) {
    const int shader = value >= 0 ? shader_values_[size_t(value)].shader : -1;
    if (shader < 0) return true;
    const Shader& s = shaders_[size_t(shader)];
    return s.vertex ? s.vs != nullptr : s.ps != nullptr;
  };
  for (const Assignment& a : pass.states) {
    if (a.choices) {
      for (const auto& e : a.choices->items)
        if (!made(e->shader)) return false;
    } else if (!made(a.shader_value)) {
      return false;
    }
  }
  return true;
}

const ShaderValue* Effect::Chosen(const Assignment& a) const {
  if (a.choices) {
    // Out-of-range indices clamp to the array, as D3DX's do.
    const double x = Evaluate(a.expr, 0, values_);
    const size_t n = a.choices->items.size();
    const size_t i = x >= double(n) ? n - 1 : x > 0 ? size_t(x) : 0;
    return &shader_values_[size_t(a.choices->items[i]->shader)];
  }
  return a.shader_value >= 0 ? &shader_values_[size_t(a.shader_value)] : nullptr;
}

void SavedState::Release() {
  for (auto& t : textures)
    if (t.second) t.second->Release();
  if (vs) vs->Release();
  if (ps) ps->Release();
  *this = SavedState();
}

// --- shaders ------------------------------------------------------------------------------------

void Effect::CreateShaders() {
  for (Shader& s : shaders_) {
    if (s.vs || s.ps) continue;
    if (s.vertex) {
      if (FAILED(device_->CreateVertexShader(s.code.data(), &s.vs))) s.vs = nullptr;
    } else {
      if (FAILED(device_->CreatePixelShader(s.code.data(), &s.ps))) s.ps = nullptr;
    }
  }
}

void Effect::ReleaseShaders() {
  for (Shader& s : shaders_) {
    if (s.vs) s.vs->Release();
    if (s.ps) s.ps->Release();
    s.vs = nullptr;
    s.ps = nullptr;
  }
}

// --- the technique's life -----------------------------------------------------------------------

HRESULT Effect::Begin(UINT* pPasses, DWORD Flags) {
  if (begun_ || !current_ || lost_) return D3DERR_INVALIDCALL;
  saved_.Release();
  if (!(Flags & D3DXFX_DONOTSAVESTATE)) CollectSaved(*current_, Flags);
  begun_ = true;
  pass_ = -1;
  if (pPasses) *pPasses = UINT(current_->passes.size());
  return D3D_OK;
}

HRESULT Effect::BeginPass(UINT Pass) {
  if (!begun_ || pass_ >= 0 || Pass >= current_->passes.size()) return D3DERR_INVALIDCALL;
  const fx::Pass& p = *current_->passes[Pass];
  if (!Valid(p)) return D3DXERR_INVALIDDATA;
  lights_.clear();
  has_material_ = false;
  const HRESULT hr = ApplyPass(p, false);
  dirty_.assign(dirty_.size(), false);
  if (SUCCEEDED(hr)) pass_ = int(Pass);
  return hr;
}

HRESULT Effect::CommitChanges() {
  if (!begun_ || pass_ < 0) return D3DERR_INVALIDCALL;
  const HRESULT hr = ApplyPass(*current_->passes[size_t(pass_)], true);
  dirty_.assign(dirty_.size(), false);
  return hr;
}

HRESULT Effect::EndPass() {
  if (!begun_ || pass_ < 0) return D3DERR_INVALIDCALL;
  pass_ = -1;
  return D3D_OK;
}

HRESULT Effect::End() {
  if (!begun_) return D3DERR_INVALIDCALL;
  begun_ = false;
  pass_ = -1;
  RestoreSaved();
  return D3D_OK;
}

HRESULT Effect::OnLostDevice() {
  // Reset returns every state to its default: nothing is restored, the references go.
  saved_.Release();
  begun_ = false;
  pass_ = -1;
  ReleaseShaders();
  lost_ = true;
  return D3D_OK;
}

HRESULT Effect::OnResetDevice() {
  if (lost_) CreateShaders();
  lost_ = false;
  return D3D_OK;
}

// --- applying passes ----------------------------------------------------------------------------

bool Effect::Dirty(const std::vector<const Param*>& reads) const {
  for (const Param* p : reads) {
    const int top = p && p->root ? p->root->top : -1;
    if (top >= 0 && size_t(top) < dirty_.size() && dirty_[size_t(top)]) return true;
  }
  return false;
}

IDirect3DBaseTexture9* Effect::TextureOf(const Param* p) const {
  return p && p->texture >= 0 ? textures_[size_t(p->texture)] : nullptr;
}

std::vector<double> Effect::Numbers(const Expr& e) const {
  std::vector<double> v(e.size);
  for (size_t i = 0; i < v.size(); ++i) v[i] = Evaluate(e, i, values_);
  return v;
}

DWORD Effect::StateValue(const Assignment& a) const {
  if (!a.dynamic) return a.constant;
  std::vector<double> v(a.expr.size);
  for (size_t i = 0; i < v.size(); ++i) v[i] = Evaluate(a.expr, i, values_);
  DWORD out = 0;
  StateDword(a.value_kind, v, &out);
  return out;
}

HRESULT Effect::ApplyPass(const Pass& pass, bool only_dirty) {
  HRESULT first = D3D_OK;
  for (const Assignment& a : pass.states) {
    const HRESULT hr = Apply(a, -1, only_dirty);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

// `sampler_index` replaces the assignment's own index for the states of sampler_state blocks.
HRESULT Effect::Apply(const Assignment& a, int sampler_index, bool only_dirty) {
  if (a.kind == Assignment::kVertexShader || a.kind == Assignment::kPixelShader)
    return ApplyShader(a, only_dirty);
  if (a.kind == Assignment::kSamplerParam)
    return a.object ? ApplySampler(a.object, a.index, only_dirty) : D3D_OK;
  if (only_dirty && !Dirty(a.reads)) return D3D_OK;
  const DWORD index = sampler_index >= 0 ? DWORD(sampler_index) : a.index;
  switch (a.kind) {
    case Assignment::kRender:
      return OutRenderState(a.state, StateValue(a));
    case Assignment::kStage:
      return OutStageState(a.index, a.state, StateValue(a));
    case Assignment::kSampler:
      return OutSamplerState(index, a.state, StateValue(a));
    case Assignment::kTexture:
      return OutTexture(index, TextureOf(a.object));
    case Assignment::kTransform: {
      D3DMATRIX m;
      for (size_t k = 0; k < 16; ++k) m.m[k / 4][k % 4] = float(Evaluate(a.expr, k, values_));
      return OutTransform(a.state, m);
    }
    case Assignment::kLight: {
      auto it = lights_.find(a.index);
      if (it == lights_.end()) {
        D3DLIGHT9 l;
        if (FAILED(device_->GetLight(a.index, &l))) l = DefaultLight();
        it = lights_.emplace(a.index, l).first;
      }
      SetLightMember(&it->second, a.state, Numbers(a.expr));
      return OutLight(a.index, it->second);
    }
    case Assignment::kLightEnable:
      return OutLightEnable(a.index, StateValue(a) ? TRUE : FALSE);
    case Assignment::kMaterial:
      if (!has_material_) {
        if (FAILED(device_->GetMaterial(&material_))) material_ = D3DMATERIAL9{};
        has_material_ = true;
      }
      SetMaterialMember(&material_, a.state, Numbers(a.expr));
      return OutMaterial(material_);
    default:
      return D3D_OK;
  }
}

HRESULT Effect::ApplySampler(const Param* sampler, DWORD index, bool only_dirty) {
  if (sampler->sampler < 0) return D3D_OK;
  HRESULT first = D3D_OK;
  for (const Assignment& b : samplers_[size_t(sampler->sampler)]) {
    const HRESULT hr = Apply(b, int(index), only_dirty);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

HRESULT Effect::ApplyShader(const Assignment& a, bool only_dirty) {
  const bool vertex = a.kind == Assignment::kVertexShader;
  // A changed index may choose another shader: everything again.
  if (a.choices && Dirty(a.reads)) only_dirty = false;
  const ShaderValue* value = Chosen(a);
  if (!value || value->shader < 0) {
    if (only_dirty) return D3D_OK;
    return vertex ? OutVertexShader(nullptr) : OutPixelShader(nullptr);
  }
  const Shader& s = shaders_[size_t(value->shader)];
  HRESULT first = D3D_OK;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  };
  if (!only_dirty) note(vertex ? OutVertexShader(s.vs) : OutPixelShader(s.ps));
  // The entry's uniform arguments, each as the words of its type.
  const bool args_changed = !only_dirty || Dirty(a.reads);
  std::vector<uint32_t> args;
  std::vector<size_t> at;
  if (args_changed) {
    for (size_t k = 0; k < s.args.size() && k < value->args.size(); ++k) {
      at.push_back(args.size());
      const size_t n = size_t(s.args[k].rows) * s.args[k].columns;
      for (size_t i = 0; i < n; ++i)
        args.push_back(DoubleToWord(Evaluate(value->args[k], i, values_), s.args[k].scalar));
    }
  }
  for (const Binding& b : s.bindings) {
    if (b.arg >= 0) {
      if (args_changed && size_t(b.arg) < at.size())
        note(Upload(s, b, args.data() + at[size_t(b.arg)]));
      continue;
    }
    if (only_dirty && !Dirty({b.root})) continue;
    note(Upload(s, b, values_.data() + b.offset));
  }
  for (const SamplerBinding& b : s.samplers)
    note(ApplySampler(b.sampler, vertex ? D3DVERTEXTEXTURESAMPLER0 + b.reg : b.reg, only_dirty));
  return first;
}

// The registers of one binding: float and int registers take a row (or, packed by columns, a
// column) each, with unused lanes 0; bool registers take one scalar each.
HRESULT Effect::Upload(const Shader& s, const Binding& b, const uint32_t* words) {
  const size_t element_words = size_t(b.rows) * b.columns;
  const UINT per = b.by_columns ? b.columns : b.rows;
  const UINT lanes = b.by_columns ? b.rows : b.columns;
  std::vector<uint32_t> data;
  UINT regs = 0;
  for (UINT e = 0; e < b.elements && regs < b.count; ++e) {
    const uint32_t* w = words + e * element_words;
    if (b.set == D3DXRS_BOOL) {
      for (size_t k = 0; k < element_words && regs < b.count; ++k, ++regs)
        data.push_back(WordToDouble(w[k], b.scalar) != 0 ? 1u : 0u);
      continue;
    }
    const Scalar to = b.set == D3DXRS_INT4 ? Scalar::kInt : Scalar::kFloat;
    for (UINT r = 0; r < per && regs < b.count; ++r, ++regs)
      for (UINT c = 0; c < 4; ++c) {
        const double v =
            c < lanes
                ? WordToDouble(w[b.by_columns ? c * b.columns + r : r * b.columns + c], b.scalar)
                : 0.0;
        data.push_back(DoubleToWord(v, to));
      }
  }
  return OutConstants(s.vertex, b.set, b.reg, data.data(), regs);
}

// --- saving and restoring -----------------------------------------------------------------------

void Effect::CollectSaved(const Technique& t, DWORD flags) {
  const bool shaders = !(flags & D3DXFX_DONOTSAVESHADERSTATE);
  const bool samplers = !(flags & D3DXFX_DONOTSAVESAMPLERSTATE);
  std::set<DWORD> render, textures, transforms, lights;
  bool material = false;
  std::set<std::pair<DWORD, DWORD>> stage, sampler;
  std::set<std::tuple<bool, int, UINT>> registers;
  bool vs = false, ps = false;
  auto block = [&](const Param* s, DWORD index) {
    if (s->sampler < 0) return;
    for (const Assignment& b : samplers_[size_t(s->sampler)]) {
      if (b.kind == Assignment::kTexture)
        textures.insert(index);
      else
        sampler.insert({index, b.state});
    }
  };
  for (const auto& pass : t.passes) {
    for (const Assignment& a : pass->states) {
      switch (a.kind) {
        case Assignment::kRender:
          render.insert(a.state);
          break;
        case Assignment::kStage:
          stage.insert({a.index, a.state});
          break;
        case Assignment::kSampler:
          sampler.insert({a.index, a.state});
          break;
        case Assignment::kTexture:
          textures.insert(a.index);
          break;
        case Assignment::kTransform:
          transforms.insert(a.state);
          break;
        case Assignment::kSamplerParam:
          if (a.object) block(a.object, a.index);
          break;
        case Assignment::kLight:
        case Assignment::kLightEnable:
          lights.insert(a.index);
          break;
        case Assignment::kMaterial:
          material = true;
          break;
        case Assignment::kVertexShader:
        case Assignment::kPixelShader: {
          (a.kind == Assignment::kVertexShader ? vs : ps) = true;
          std::vector<int> values;  // every shader the assignment may set
          if (a.choices) {
            for (const auto& e : a.choices->items) values.push_back(e->shader);
          } else if (a.shader_value >= 0) {
            values.push_back(a.shader_value);
          }
          for (int value : values) {
            const int shader = shader_values_[size_t(value)].shader;
            if (shader < 0) continue;
            const Shader& s = shaders_[size_t(shader)];
            for (const Binding& b : s.bindings)
              for (UINT r = 0; r < b.count; ++r)
                registers.insert({s.vertex, int(b.set), b.reg + r});
            for (const SamplerBinding& b : s.samplers)
              block(b.sampler, s.vertex ? D3DVERTEXTEXTURESAMPLER0 + b.reg : b.reg);
          }
          break;
        }
        default:
          break;
      }
    }
  }
  if (!samplers) {
    sampler.clear();
    textures.clear();
  }
  if (!shaders) {
    vs = ps = false;
    registers.clear();
  }
  // What the device cannot report is not saved.
  for (DWORD s : render) {
    DWORD v;
    if (SUCCEEDED(device_->GetRenderState(D3DRENDERSTATETYPE(s), &v)))
      saved_.render.push_back({s, v});
  }
  for (auto [index, s] : stage) {
    DWORD v;
    if (SUCCEEDED(device_->GetTextureStageState(index, D3DTEXTURESTAGESTATETYPE(s), &v)))
      saved_.stage.push_back({index, s, v});
  }
  for (auto [index, s] : sampler) {
    DWORD v;
    if (SUCCEEDED(device_->GetSamplerState(index, D3DSAMPLERSTATETYPE(s), &v)))
      saved_.sampler.push_back({index, s, v});
  }
  for (DWORD index : textures) {
    IDirect3DBaseTexture9* tex = nullptr;
    if (SUCCEEDED(device_->GetTexture(index, &tex))) saved_.textures.push_back({index, tex});
  }
  for (DWORD s : transforms) {
    D3DMATRIX m;
    if (SUCCEEDED(device_->GetTransform(D3DTRANSFORMSTATETYPE(s), &m)))
      saved_.transforms.push_back({s, m});
  }
  for (DWORD index : lights) {
    D3DLIGHT9 l;
    if (SUCCEEDED(device_->GetLight(index, &l))) saved_.lights.push_back({index, l});
    // A light never set is a disabled one.
    BOOL on = FALSE;
    if (FAILED(device_->GetLightEnable(index, &on))) on = FALSE;
    saved_.light_enables.push_back({index, on});
  }
  if (material && SUCCEEDED(device_->GetMaterial(&saved_.material))) saved_.has_material = true;
  if (vs && SUCCEEDED(device_->GetVertexShader(&saved_.vs))) saved_.vertex_shader = true;
  if (ps && SUCCEEDED(device_->GetPixelShader(&saved_.ps))) saved_.pixel_shader = true;
  // Consecutive registers of one file are read together.
  for (auto it = registers.begin(); it != registers.end();) {
    const auto [vertex, set, start] = *it;
    UINT count = 0;
    while (it != registers.end() && std::get<0>(*it) == vertex && std::get<1>(*it) == set &&
           std::get<2>(*it) == start + count) {
      ++count;
      ++it;
    }
    SavedState::Registers r{vertex, D3DXREGISTER_SET(set), start, {}};
    HRESULT hr = D3DERR_INVALIDCALL;
    if (set == D3DXRS_FLOAT4) {
      std::vector<float> f(size_t(count) * 4);
      hr = vertex ? device_->GetVertexShaderConstantF(start, f.data(), count)
                  : device_->GetPixelShaderConstantF(start, f.data(), count);
      r.data.resize(f.size());
      if (!f.empty()) std::memcpy(r.data.data(), f.data(), f.size() * 4);
    } else if (set == D3DXRS_INT4) {
      std::vector<INT> n(size_t(count) * 4);
      hr = vertex ? device_->GetVertexShaderConstantI(start, n.data(), count)
                  : device_->GetPixelShaderConstantI(start, n.data(), count);
      r.data.assign(n.begin(), n.end());
    } else if (set == D3DXRS_BOOL) {
      std::vector<BOOL> n(count);
      hr = vertex ? device_->GetVertexShaderConstantB(start, n.data(), count)
                  : device_->GetPixelShaderConstantB(start, n.data(), count);
      r.data.assign(n.begin(), n.end());
    }
    if (SUCCEEDED(hr)) saved_.constants.push_back(std::move(r));
  }
}

void Effect::RestoreSaved() {
  for (auto [s, v] : saved_.render) OutRenderState(s, v);
  for (const auto& s : saved_.stage) OutStageState(s.index, s.state, s.value);
  for (const auto& s : saved_.sampler) OutSamplerState(s.index, s.state, s.value);
  for (auto [index, tex] : saved_.textures) OutTexture(index, tex);
  for (const auto& [s, m] : saved_.transforms) OutTransform(s, m);
  for (const auto& [index, l] : saved_.lights) OutLight(index, l);
  for (auto [index, on] : saved_.light_enables) OutLightEnable(index, on);
  if (saved_.has_material) OutMaterial(saved_.material);
  if (saved_.vertex_shader) OutVertexShader(saved_.vs);
  if (saved_.pixel_shader) OutPixelShader(saved_.ps);
  for (const auto& r : saved_.constants) {
    const UINT count = UINT(r.set == D3DXRS_BOOL ? r.data.size() : r.data.size() / 4);
    OutConstants(r.vertex, r.set, r.start, r.data.data(), count);
  }
  saved_.Release();
}

// --- the device or the state manager ------------------------------------------------------------

HRESULT Effect::OutRenderState(DWORD state, DWORD value) {
  const auto s = D3DRENDERSTATETYPE(state);
  return manager_ ? manager_->SetRenderState(s, value) : device_->SetRenderState(s, value);
}

HRESULT Effect::OutStageState(DWORD stage, DWORD type, DWORD value) {
  const auto t = D3DTEXTURESTAGESTATETYPE(type);
  return manager_ ? manager_->SetTextureStageState(stage, t, value)
                  : device_->SetTextureStageState(stage, t, value);
}

HRESULT Effect::OutSamplerState(DWORD sampler, DWORD type, DWORD value) {
  const auto t = D3DSAMPLERSTATETYPE(type);
  return manager_ ? manager_->SetSamplerState(sampler, t, value)
                  : device_->SetSamplerState(sampler, t, value);
}

HRESULT Effect::OutTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
  return manager_ ? manager_->SetTexture(stage, texture) : device_->SetTexture(stage, texture);
}

HRESULT Effect::OutTransform(DWORD state, const D3DMATRIX& m) {
  const auto s = D3DTRANSFORMSTATETYPE(state);
  return manager_ ? manager_->SetTransform(s, &m) : device_->SetTransform(s, &m);
}

HRESULT Effect::OutLight(DWORD index, const D3DLIGHT9& light) {
  return manager_ ? manager_->SetLight(index, &light) : device_->SetLight(index, &light);
}

HRESULT Effect::OutLightEnable(DWORD index, BOOL enable) {
  return manager_ ? manager_->LightEnable(index, enable) : device_->LightEnable(index, enable);
}

HRESULT Effect::OutMaterial(const D3DMATERIAL9& material) {
  return manager_ ? manager_->SetMaterial(&material) : device_->SetMaterial(&material);
}

HRESULT Effect::OutVertexShader(IDirect3DVertexShader9* s) {
  return manager_ ? manager_->SetVertexShader(s) : device_->SetVertexShader(s);
}

HRESULT Effect::OutPixelShader(IDirect3DPixelShader9* s) {
  return manager_ ? manager_->SetPixelShader(s) : device_->SetPixelShader(s);
}

HRESULT Effect::OutConstants(bool vertex, D3DXREGISTER_SET set, UINT start, const uint32_t* data,
                             UINT count) {
  if (count == 0) return D3D_OK;
  if (set == D3DXRS_FLOAT4) {
    std::vector<float> f(size_t(count) * 4);
    std::memcpy(f.data(), data, f.size() * 4);
    if (manager_)
      return vertex ? manager_->SetVertexShaderConstantF(start, f.data(), count)
                    : manager_->SetPixelShaderConstantF(start, f.data(), count);
    return vertex ? device_->SetVertexShaderConstantF(start, f.data(), count)
                  : device_->SetPixelShaderConstantF(start, f.data(), count);
  }
  if (set == D3DXRS_INT4) {
    std::vector<INT> n(data, data + size_t(count) * 4);
    if (manager_)
      return vertex ? manager_->SetVertexShaderConstantI(start, n.data(), count)
                    : manager_->SetPixelShaderConstantI(start, n.data(), count);
    return vertex ? device_->SetVertexShaderConstantI(start, n.data(), count)
                  : device_->SetPixelShaderConstantI(start, n.data(), count);
  }
  if (set == D3DXRS_BOOL) {
    std::vector<BOOL> n(data, data + count);
    if (manager_)
      return vertex ? manager_->SetVertexShaderConstantB(start, n.data(), count)
                    : manager_->SetPixelShaderConstantB(start, n.data(), count);
    return vertex ? device_->SetVertexShaderConstantB(start, n.data(), count)
                  : device_->SetPixelShaderConstantB(start, n.data(), count);
  }
  return D3D_OK;
}

}  // namespace vexa::fx
