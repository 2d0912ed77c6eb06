// ID3DXEffect inside: the parameters with their value store, techniques of passes made of state
// assignments, the compiled shaders with the registers each parameter reaches, and the effect
// object itself. effect_build.cpp makes one from source, effect_states.cpp knows the states and
// their value keywords, effect.cpp answers handles, descriptions and values, effect_run.cpp
// applies passes and saves and restores the device's state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "win32/com_object.h"
#include "d3d9.h"
#include "d3dx9effect.h"

namespace vexa::fx {

enum class Scalar : uint8_t { kBool, kInt, kFloat };

struct Param {
  std::string name;
  std::string semantic;
  D3DXPARAMETER_CLASS cls = D3DXPC_SCALAR;
  D3DXPARAMETER_TYPE type = D3DXPT_VOID;
  UINT rows = 1, columns = 1;
  UINT elements = 0;  // 0: not an array
  DWORD flags = 0;
  Scalar scalar = Scalar::kFloat;  // numeric parameters and structures' leaves
  size_t offset = 0;               // first word in the value store
  size_t words = 0;                // words of the whole value (every element)
  int texture = -1;                // texture parameters: slot of the (first) element
  int sampler = -1;                // sampler parameters: index of the (first) element
  int shader = -1;        // shader parameters (not arrays): index in Effect::shader_values_
  int top = -1;           // top-level parameters: their index; -1 for annotations
  UINT bytes = 0;         // D3DXPARAMETER_DESC::Bytes
  std::string str;        // strings, without quotes
  Param* root = nullptr;  // the top-level parameter this one belongs to
  std::vector<std::unique_ptr<Param>> members;
  std::vector<std::unique_ptr<Param>> items;  // array elements
  std::vector<std::unique_ptr<Param>> annotations;

  bool Numeric() const {
    return type == D3DXPT_BOOL || type == D3DXPT_INT || type == D3DXPT_FLOAT ||
           cls == D3DXPC_STRUCT;
  }
  bool IsTexture() const { return type >= D3DXPT_TEXTURE && type <= D3DXPT_TEXTURECUBE; }
  bool IsSampler() const { return type >= D3DXPT_SAMPLER && type <= D3DXPT_SAMPLERCUBE; }
  bool IsShader() const { return type == D3DXPT_VERTEXSHADER || type == D3DXPT_PIXELSHADER; }
  // Scalars of one element.
  size_t ElementWords() const { return elements ? words / elements : words; }
};

// A value computed from literals and parameters when a pass is applied.
struct Expr {
  enum Op : uint8_t {
    kConst,
    kParam,
    kList,
    kCast,
    kNeg,
    kNot,
    kBitNot,
    kAdd,
    kSub,
    kMul,
    kDiv,
    kMod,
    kOr,
    kAnd,
    kXor,
    kShl,
    kShr,
  };
  Op op = kConst;
  Scalar cast = Scalar::kFloat;  // kCast
  size_t size = 1;               // number of scalars the value has
  std::vector<double> value;     // kConst
  const Param* param = nullptr;  // kParam
  std::vector<Expr> kids;
};

// A compiled shader with the arguments its entry's uniform parameters take (a shader parameter's
// value).
struct ShaderValue {
  int shader = -1;  // index in Effect::shaders_; -1 for NULL
  std::vector<Expr> args;
  std::vector<const Param*> reads;  // top-level parameters the arguments read
};

// How the numbers of a state's value become its DWORD, and which keywords it knows.
enum class ValueKind : uint8_t {
  kDword,
  kBool,
  kFloat,
  kColor,
  kZEnable,
  kFill,
  kShade,
  kBlend,
  kBlendOp,
  kCull,
  kCmp,
  kStencilOp,
  kFog,
  kMaterialSource,
  kVertexBlend,
  kColorWrite,
  kWrap,
  kPatchEdge,
  kDegree,
  kTextureOp,
  kTextureArg,
  kTexCoordIndex,
  kTransformFlags,
  kAddress,
  kFilter,
  kMatrix,
  kObject,
  kLightType,
};

struct Assignment {
  enum Kind : uint8_t {
    kRender,
    kStage,
    kSampler,  // in sampler_state blocks the index is the sampler the parameter is bound to
    kTexture,
    kTransform,
    kVertexShader,
    kPixelShader,
    kSamplerParam,  // Sampler[i] = (sampler parameter)
    kLight,         // a member of light `index` (LightMember)
    kLightEnable,
    kMaterial,  // a member of the material (MaterialMember)
  };
  Kind kind = kRender;
  DWORD state = 0;  // D3DRS_*, D3DTSS_*, D3DSAMP_*, D3DTS_*, LightMember, MaterialMember
  DWORD index = 0;  // stage or sampler
  ValueKind value_kind = ValueKind::kDword;
  bool dynamic = false;           // reads parameters: evaluated when applied
  DWORD constant = 0;             // the value when not dynamic
  Expr expr;                      // dynamic values and transforms
  const Param* object = nullptr;  // textures and sampler parameters (null: NULL)
  int shader_value = -1;  // shader assignments: index in Effect::shader_values_; -1 for NULL
  // Shader assignments from an array of shaders by an index read from parameters (`expr`):
  // the array, whose elements' values apply in place of `shader` and `args`.
  const Param* choices = nullptr;
  std::vector<const Param*> reads;  // top-level parameters the value depends on
};

enum LightMember : DWORD {
  kLightTypeMember,
  kLightDiffuse,
  kLightSpecular,
  kLightAmbient,
  kLightPosition,
  kLightDirection,
  kLightRange,
  kLightFalloff,
  kLightAttenuation0,
  kLightAttenuation1,
  kLightAttenuation2,
  kLightTheta,
  kLightPhi,
};
enum MaterialMember : DWORD {
  kMaterialDiffuse,
  kMaterialAmbient,
  kMaterialSpecular,
  kMaterialEmissive,
  kMaterialPower,
};

// One binding of a value to consecutive registers of a shader.
struct Binding {
  const Param* root = nullptr;  // null for entry arguments
  int arg = -1;                 // entry argument instead of a parameter
  size_t offset = 0;            // first word (in the store, or of the argument's words)
  Scalar scalar = Scalar::kFloat;
  D3DXREGISTER_SET set = D3DXRS_FLOAT4;
  UINT reg = 0;
  UINT count = 0;  // registers to write
  UINT rows = 1, columns = 1;
  bool by_columns = false;  // matrices packed one column per register
  UINT elements = 1;
};

struct SamplerBinding {
  const Param* sampler = nullptr;  // a sampler parameter or one element of a sampler array
  UINT reg = 0;
};

struct Shader {
  bool vertex = true;
  std::string profile, entry;
  std::vector<DWORD> code;
  // The device's shader; null when the device refused it (or is lost).
  IDirect3DVertexShader9* vs = nullptr;
  IDirect3DPixelShader9* ps = nullptr;
  std::vector<Binding> bindings;
  std::vector<SamplerBinding> samplers;
  struct Arg {
    Scalar scalar = Scalar::kFloat;
    UINT rows = 1, columns = 1;
  };
  std::vector<Arg> args;  // the entry's uniform parameters
};

struct Pass {
  std::string name;
  std::vector<std::unique_ptr<Param>> annotations;
  std::vector<Assignment> states;
};

struct Technique {
  std::string name;
  std::vector<std::unique_ptr<Param>> annotations;
  std::vector<std::unique_ptr<Pass>> passes;
  std::vector<const Param*> used;  // top-level parameters its passes read
};

struct Function {
  std::string name;
};

// The states a technique changes, and their values before Begin.
struct SavedState {
  std::vector<std::pair<DWORD, DWORD>> render;
  struct Indexed {
    DWORD index, state, value;
  };
  std::vector<Indexed> stage, sampler;
  std::vector<std::pair<DWORD, IDirect3DBaseTexture9*>> textures;
  std::vector<std::pair<DWORD, D3DMATRIX>> transforms;
  std::vector<std::pair<DWORD, D3DLIGHT9>> lights;
  std::vector<std::pair<DWORD, BOOL>> light_enables;
  bool has_material = false;
  D3DMATERIAL9 material = {};
  bool vertex_shader = false, pixel_shader = false;
  IDirect3DVertexShader9* vs = nullptr;
  IDirect3DPixelShader9* ps = nullptr;
  struct Registers {
    bool vertex;
    D3DXREGISTER_SET set;
    UINT start;
    std::vector<uint32_t> data;  // 4 words per float or int register, 1 per bool register
  };
  std::vector<Registers> constants;
  void Release();
};

// State names and value keywords (effect_states.cpp).
struct StateName {
  Assignment::Kind kind;
  DWORD state;
  ValueKind value;
};
// A state of a pass by name (case-insensitive; "D3DRS_", "D3DTSS_", "D3DSAMP_" prefixes allowed).
bool FindPassState(std::string_view name, StateName* out);
// A state of a sampler_state block ("Texture" or a sampler state).
bool FindSamplerState(std::string_view name, StateName* out);
// The value of a keyword of a value kind (case-insensitive, D3D prefix optional).
bool FindKeyword(ValueKind kind, std::string_view word, DWORD* out);
// The DWORD of evaluated numbers: one number, or a colour from three or four.
bool StateDword(ValueKind kind, const std::vector<double>& v, DWORD* out);
// Whether `size` numbers suit a member of a light or the material (colours take three or four).
bool MemberTakes(Assignment::Kind kind, DWORD member, size_t size);
// Stores evaluated numbers (of a size MemberTakes accepted) into a member.
void SetLightMember(D3DLIGHT9* light, DWORD member, const std::vector<double>& v);
void SetMaterialMember(D3DMATERIAL9* material, DWORD member, const std::vector<double>& v);
// The light Direct3D enables where none was set: white, directional, along +z.
D3DLIGHT9 DefaultLight();

// Reads the numbers of a value (the store's words in `scalar`'s type).
double WordToDouble(uint32_t w, Scalar scalar);
uint32_t DoubleToWord(double v, Scalar scalar);

// Scalar `i` of an expression (effect_run.cpp); a value of one scalar answers every `i`.
double Evaluate(const Expr& e, size_t i, const std::vector<uint32_t>& values);
// A binary operator of Expr on two scalars; the bitwise ones work on integers, and division by
// an integer zero gives 0.
double Arithmetic(Expr::Op op, double a, double b);
// A number as an integer for bitwise operators: 0 for NaN, infinities and huge values.
int64_t ToInteger(double v);

// Calls f(word index, scalar type) for every word of a parameter's value, in order.
template <class F>
void ForEachWord(const Param& p, F&& f) {
  if (!p.items.empty()) {
    for (const auto& e : p.items) ForEachWord(*e, f);
  } else if (p.cls == D3DXPC_STRUCT) {
    for (const auto& m : p.members) ForEachWord(*m, f);
  } else if (p.Numeric()) {
    for (size_t i = 0; i < p.words; ++i) f(p.offset + i, p.scalar);
  }
}

class Effect final : public ComObject<ID3DXEffect> {
 public:
  explicit Effect(IDirect3DDevice9* device);
  ~Effect() override;

  // Builds the effect from source (effect_build.cpp). False with messages on any error; the
  // messages also carry warnings on success. `origin` names the source in messages.
  bool Build(std::string source, std::vector<std::pair<std::string, std::string>> macros,
             DWORD flags, const std::string& origin, std::string* messages);

  // ID3DXBaseEffect
  HRESULT STDMETHODCALLTYPE GetDesc(D3DXEFFECT_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetParameterDesc(D3DXHANDLE h, D3DXPARAMETER_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetTechniqueDesc(D3DXHANDLE h, D3DXTECHNIQUE_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetPassDesc(D3DXHANDLE h, D3DXPASS_DESC* pDesc) override;
  HRESULT STDMETHODCALLTYPE GetFunctionDesc(D3DXHANDLE h, D3DXFUNCTION_DESC* pDesc) override;
  D3DXHANDLE STDMETHODCALLTYPE GetParameter(D3DXHANDLE h, UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetParameterByName(D3DXHANDLE h, LPCSTR pName) override;
  D3DXHANDLE STDMETHODCALLTYPE GetParameterBySemantic(D3DXHANDLE h, LPCSTR pSemantic) override;
  D3DXHANDLE STDMETHODCALLTYPE GetParameterElement(D3DXHANDLE h, UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetTechnique(UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetTechniqueByName(LPCSTR pName) override;
  D3DXHANDLE STDMETHODCALLTYPE GetPass(D3DXHANDLE h, UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetPassByName(D3DXHANDLE h, LPCSTR pName) override;
  D3DXHANDLE STDMETHODCALLTYPE GetFunction(UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetFunctionByName(LPCSTR pName) override;
  D3DXHANDLE STDMETHODCALLTYPE GetAnnotation(D3DXHANDLE h, UINT Index) override;
  D3DXHANDLE STDMETHODCALLTYPE GetAnnotationByName(D3DXHANDLE h, LPCSTR pName) override;
  HRESULT STDMETHODCALLTYPE SetValue(D3DXHANDLE h, LPCVOID pData, UINT Bytes) override;
  HRESULT STDMETHODCALLTYPE GetValue(D3DXHANDLE h, LPVOID pData, UINT Bytes) override;
  HRESULT STDMETHODCALLTYPE SetBool(D3DXHANDLE h, BOOL b) override;
  HRESULT STDMETHODCALLTYPE GetBool(D3DXHANDLE h, BOOL* pb) override;
  HRESULT STDMETHODCALLTYPE SetBoolArray(D3DXHANDLE h, const BOOL* pb, UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetBoolArray(D3DXHANDLE h, BOOL* pb, UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetInt(D3DXHANDLE h, INT n) override;
  HRESULT STDMETHODCALLTYPE GetInt(D3DXHANDLE h, INT* pn) override;
  HRESULT STDMETHODCALLTYPE SetIntArray(D3DXHANDLE h, const INT* pn, UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetIntArray(D3DXHANDLE h, INT* pn, UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetFloat(D3DXHANDLE h, FLOAT f) override;
  HRESULT STDMETHODCALLTYPE GetFloat(D3DXHANDLE h, FLOAT* pf) override;
  HRESULT STDMETHODCALLTYPE SetFloatArray(D3DXHANDLE h, const FLOAT* pf, UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetFloatArray(D3DXHANDLE h, FLOAT* pf, UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetVector(D3DXHANDLE h, const D3DXVECTOR4* pVector) override;
  HRESULT STDMETHODCALLTYPE GetVector(D3DXHANDLE h, D3DXVECTOR4* pVector) override;
  HRESULT STDMETHODCALLTYPE SetVectorArray(D3DXHANDLE h, const D3DXVECTOR4* pVector,
                                           UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetVectorArray(D3DXHANDLE h, D3DXVECTOR4* pVector, UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetMatrix(D3DXHANDLE h, const D3DXMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE GetMatrix(D3DXHANDLE h, D3DXMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE SetMatrixArray(D3DXHANDLE h, const D3DXMATRIX* pMatrix,
                                           UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetMatrixArray(D3DXHANDLE h, D3DXMATRIX* pMatrix, UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetMatrixPointerArray(D3DXHANDLE h, const D3DXMATRIX** ppMatrix,
                                                  UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetMatrixPointerArray(D3DXHANDLE h, D3DXMATRIX** ppMatrix,
                                                  UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetMatrixTranspose(D3DXHANDLE h, const D3DXMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE GetMatrixTranspose(D3DXHANDLE h, D3DXMATRIX* pMatrix) override;
  HRESULT STDMETHODCALLTYPE SetMatrixTransposeArray(D3DXHANDLE h, const D3DXMATRIX* pMatrix,
                                                    UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetMatrixTransposeArray(D3DXHANDLE h, D3DXMATRIX* pMatrix,
                                                    UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetMatrixTransposePointerArray(D3DXHANDLE h,
                                                           const D3DXMATRIX** ppMatrix,
                                                           UINT Count) override;
  HRESULT STDMETHODCALLTYPE GetMatrixTransposePointerArray(D3DXHANDLE h, D3DXMATRIX** ppMatrix,
                                                           UINT Count) override;
  HRESULT STDMETHODCALLTYPE SetString(D3DXHANDLE h, LPCSTR pString) override;
  HRESULT STDMETHODCALLTYPE GetString(D3DXHANDLE h, LPCSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE SetTexture(D3DXHANDLE h, LPDIRECT3DBASETEXTURE9 pTexture) override;
  HRESULT STDMETHODCALLTYPE GetTexture(D3DXHANDLE h, LPDIRECT3DBASETEXTURE9* ppTexture) override;
  HRESULT STDMETHODCALLTYPE GetPixelShader(D3DXHANDLE h, LPDIRECT3DPIXELSHADER9* pp) override;
  HRESULT STDMETHODCALLTYPE GetVertexShader(D3DXHANDLE h, LPDIRECT3DVERTEXSHADER9* pp) override;
  HRESULT STDMETHODCALLTYPE SetArrayRange(D3DXHANDLE h, UINT uStart, UINT uEnd) override;

  // ID3DXEffect
  HRESULT STDMETHODCALLTYPE GetPool(LPD3DXEFFECTPOOL* ppPool) override;
  HRESULT STDMETHODCALLTYPE SetTechnique(D3DXHANDLE h) override;
  D3DXHANDLE STDMETHODCALLTYPE GetCurrentTechnique() override;
  HRESULT STDMETHODCALLTYPE ValidateTechnique(D3DXHANDLE h) override;
  HRESULT STDMETHODCALLTYPE FindNextValidTechnique(D3DXHANDLE h, D3DXHANDLE* pNext) override;
  BOOL STDMETHODCALLTYPE IsParameterUsed(D3DXHANDLE hParameter, D3DXHANDLE hTechnique) override;
  HRESULT STDMETHODCALLTYPE Begin(UINT* pPasses, DWORD Flags) override;
  HRESULT STDMETHODCALLTYPE BeginPass(UINT Pass) override;
  HRESULT STDMETHODCALLTYPE CommitChanges() override;
  HRESULT STDMETHODCALLTYPE EndPass() override;
  HRESULT STDMETHODCALLTYPE End() override;
  HRESULT STDMETHODCALLTYPE GetDevice(LPDIRECT3DDEVICE9* ppDevice) override;
  HRESULT STDMETHODCALLTYPE OnLostDevice() override;
  HRESULT STDMETHODCALLTYPE OnResetDevice() override;
  HRESULT STDMETHODCALLTYPE SetStateManager(LPD3DXEFFECTSTATEMANAGER pManager) override;
  HRESULT STDMETHODCALLTYPE GetStateManager(LPD3DXEFFECTSTATEMANAGER* ppManager) override;
  HRESULT STDMETHODCALLTYPE BeginParameterBlock() override;
  D3DXHANDLE STDMETHODCALLTYPE EndParameterBlock() override;
  HRESULT STDMETHODCALLTYPE ApplyParameterBlock(D3DXHANDLE h) override;
  HRESULT STDMETHODCALLTYPE DeleteParameterBlock(D3DXHANDLE h) override;
  HRESULT STDMETHODCALLTYPE CloneEffect(LPDIRECT3DDEVICE9 pDevice, ID3DXEffect** ppEffect) override;
  HRESULT STDMETHODCALLTYPE SetRawValue(D3DXHANDLE h, LPCVOID pData, UINT ByteOffset,
                                        UINT Bytes) override;

 protected:
  bool IsOwnInterface(REFIID riid) const override;

 private:
  friend class Builder;
  enum class HandleKind : uint8_t { kParam, kTechnique, kPass, kFunction };

  IDirect3DDevice9* device_;
  ID3DXEffectStateManager* manager_ = nullptr;
  // What CloneEffect needs to build the same effect again. The parsed names point into these.
  std::string source_;
  std::vector<std::pair<std::string, std::string>> macros_;
  DWORD flags_ = 0;

  std::vector<std::unique_ptr<Param>> params_;
  std::vector<uint32_t> values_;
  std::vector<IDirect3DBaseTexture9*> textures_;
  std::vector<std::vector<Assignment>> samplers_;  // each sampler's sampler_state block
  std::vector<std::unique_ptr<Technique>> techniques_;
  std::vector<Shader> shaders_;
  std::vector<ShaderValue> shader_values_;
  std::vector<std::unique_ptr<Function>> functions_;
  std::unordered_map<const void*, HandleKind> handles_;
  std::vector<bool> dirty_;  // per top-level parameter, since the pass was last applied

  Technique* current_ = nullptr;
  bool begun_ = false;
  int pass_ = -1;  // the pass between BeginPass and EndPass
  bool lost_ = false;
  SavedState saved_;
  // The lights and material the running pass builds member by member: read from the device the
  // first time a pass touches them, so that members a pass does not set keep their values.
  std::unordered_map<DWORD, D3DLIGHT9> lights_;
  bool has_material_ = false;
  D3DMATERIAL9 material_ = {};

  // effect.cpp
  void Register(const Param* p);
  // What a handle names: a pointer this effect handed out, or else a name (unless the effect was
  // created large-address-aware). Null when it names nothing of the kind.
  Param* FindParam(D3DXHANDLE h) const;
  Param* ParamByPath(const Param* parent, std::string_view path) const;
  Technique* FindTechnique(D3DXHANDLE h) const;
  Pass* FindPass(D3DXHANDLE h) const;
  const std::vector<std::unique_ptr<Param>>* AnnotationsOf(D3DXHANDLE h) const;
  bool IsHandle(D3DXHANDLE h, HandleKind kind) const;
  void MarkDirty(const Param* p);
  HRESULT SetNumbers(D3DXHANDLE h, UINT count, Scalar from, const void* data);
  HRESULT GetNumbers(D3DXHANDLE h, UINT count, Scalar to, void* data);
  // Matrices from base[i], or from list[i] when a list is given.
  HRESULT SetMatrices(D3DXHANDLE h, const D3DXMATRIX* base, const D3DXMATRIX* const* list,
                      UINT count, bool transpose, bool array);
  HRESULT GetMatrices(D3DXHANDLE h, D3DXMATRIX* base, D3DXMATRIX* const* list, UINT count,
                      bool transpose, bool array);

  // effect_run.cpp
  // Whether the device made every shader the pass may set.
  bool Valid(const Pass& pass) const;
  // The shader value a shader assignment sets now (its own, or the chosen array element's).
  // Null for NULL.
  const ShaderValue* Chosen(const Assignment& a) const;
  HRESULT Apply(const Assignment& a, int sampler_index, bool only_dirty);
  HRESULT ApplySampler(const Param* sampler, DWORD index, bool only_dirty);
  HRESULT ApplyPass(const Pass& pass, bool only_dirty);
  HRESULT ApplyShader(const Assignment& a, bool only_dirty);
  HRESULT Upload(const Shader& s, const Binding& b, const uint32_t* words);
  DWORD StateValue(const Assignment& a) const;
  std::vector<double> Numbers(const Expr& e) const;
  IDirect3DBaseTexture9* TextureOf(const Param* p) const;
  void CollectSaved(const Technique& t, DWORD flags);
  void RestoreSaved();
  void ReleaseShaders();
  void CreateShaders();
  bool Dirty(const std::vector<const Param*>& reads) const;
  // The device or the state manager.
  HRESULT OutRenderState(DWORD state, DWORD value);
  HRESULT OutStageState(DWORD stage, DWORD type, DWORD value);
  HRESULT OutSamplerState(DWORD sampler, DWORD type, DWORD value);
  HRESULT OutTexture(DWORD stage, IDirect3DBaseTexture9* texture);
  HRESULT OutTransform(DWORD state, const D3DMATRIX& m);
  HRESULT OutLight(DWORD index, const D3DLIGHT9& light);
  HRESULT OutLightEnable(DWORD index, BOOL enable);
  HRESULT OutMaterial(const D3DMATERIAL9& material);
  HRESULT OutVertexShader(IDirect3DVertexShader9* s);
  HRESULT OutPixelShader(IDirect3DPixelShader9* s);
  HRESULT OutConstants(bool vertex, D3DXREGISTER_SET set, UINT start, const uint32_t* data,
                       UINT count);
};

}  // namespace vexa::fx
