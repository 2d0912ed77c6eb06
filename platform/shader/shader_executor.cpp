// Programs, executors, and the wrappers that run an operation on some lanes only.
#include "shader/shader_executor.h"

#include <cstring>
#include <new>

#include "shader/shader_internal.h"

namespace vexa {

namespace sm {

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return have;
}

namespace {

uint32_t LaneMask(const float* ch, bool negate) {
  uint32_t m = 0;
  for (int l = 0; l < kLanes; ++l) m |= uint32_t(ch[l] != 0.f) << l;
  return negate ? ~m & kAllShaderLanes : m;
}

// Runs `op` on all lanes and puts back the old values of `d[j]` outside `keep[j]`.
const Op* RunKeeping(const Op* op, State& st, const uint32_t* keep) {
  alignas(64) float save[4][kLanes];
  for (int j = 0; j < op->n; ++j) std::memcpy(save[j], Channel(st.R, op->d[j]), kChannelBytes);
  op->body(op, st);
  for (int j = 0; j < op->n; ++j) {
    if (keep[j] == kAllShaderLanes) continue;
    float* d = Channel(st.R, op->d[j]);
    for (int l = 0; l < kLanes; ++l)
      if (!(keep[j] >> l & 1)) d[l] = save[j][l];
  }
  return op + 1;
}

}  // namespace

const Op* RunMasked(const Op* op, State& st) {
  if (st.mask == 0) return st.ops + op->next_ctrl;
  const uint32_t keep[4] = {st.mask, st.mask, st.mask, st.mask};
  return RunKeeping(op, st, keep);
}

const Op* RunPredicated(const Op* op, State& st) {
  if (st.mask == 0) return st.ops + op->next_ctrl;
  if (op->flags & kOpKill) {
    // Each tested component kills only where its predicate component holds.
    const uint32_t saved = st.mask;
    for (int j = 0; j < op->n; ++j) {
      Op one = *op;
      one.n = 1;
      one.s[0][0] = op->s[0][j];
      st.mask = saved & LaneMask(Channel(st.R, op->pred[j]), op->pred_not);
      op->body(&one, st);
    }
    st.SetMask(saved);
    return op + 1;
  }
  uint32_t keep[4];
  for (int j = 0; j < op->n; ++j)
    keep[j] = st.mask & LaneMask(Channel(st.R, op->pred[j]), op->pred_not);
  return RunKeeping(op, st, keep);
}

}  // namespace sm

// --- ShaderProgram ---------------------------------------------------------------------------

ShaderProgram::ShaderProgram() = default;
ShaderProgram::~ShaderProgram() = default;
ShaderProgram::ShaderProgram(const ShaderProgram&) = default;
ShaderProgram& ShaderProgram::operator=(const ShaderProgram&) = default;

namespace {
const std::vector<ShaderSemantic> kNoSemantics;
const std::vector<ShaderSamplerUse> kNoSamplers;
const std::vector<ShaderFloatDef> kNoFloatDefs;
const std::vector<ShaderIntDef> kNoIntDefs;
const std::vector<ShaderBoolDef> kNoBoolDefs;
}  // namespace

ShaderType ShaderProgram::type() const {
  return compiled_ ? compiled_->type : ShaderType::kVertex;
}
DWORD ShaderProgram::version() const {
  return compiled_ ? compiled_->version : 0;
}
size_t ShaderProgram::dwords() const {
  return compiled_ ? compiled_->dwords : 0;
}
const std::vector<ShaderSemantic>& ShaderProgram::inputs() const {
  return compiled_ ? compiled_->inputs : kNoSemantics;
}
const std::vector<ShaderSemantic>& ShaderProgram::outputs() const {
  return compiled_ ? compiled_->outputs : kNoSemantics;
}
const std::vector<ShaderSamplerUse>& ShaderProgram::samplers() const {
  return compiled_ ? compiled_->samplers : kNoSamplers;
}
const std::vector<ShaderFloatDef>& ShaderProgram::float_defs() const {
  return compiled_ ? compiled_->float_defs : kNoFloatDefs;
}
const std::vector<ShaderIntDef>& ShaderProgram::int_defs() const {
  return compiled_ ? compiled_->int_defs : kNoIntDefs;
}
const std::vector<ShaderBoolDef>& ShaderProgram::bool_defs() const {
  return compiled_ ? compiled_->bool_defs : kNoBoolDefs;
}
bool ShaderProgram::uses_position() const {
  return compiled_ && compiled_->uses_position;
}
bool ShaderProgram::uses_face() const {
  return compiled_ && compiled_->uses_face;
}
bool ShaderProgram::writes_depth() const {
  return compiled_ && compiled_->writes_depth;
}
bool ShaderProgram::may_kill() const {
  return compiled_ && compiled_->may_kill;
}
ShaderCodePath ShaderProgram::code_path() const {
  return compiled_ ? compiled_->path : ShaderCodePath::kGeneric;
}
int ShaderProgram::fused_operations() const {
  return compiled_ ? compiled_->fused : 0;
}

bool CreateShaderProgram(const DWORD* tokens, size_t maxDwords, ShaderProgram* out,
                         std::string* why, ShaderCodePath path) {
  std::string reason;
  if (!out) {
    if (why) *why = "no output program";
    return false;
  }
  out->compiled_.reset();
  try {
    sm::Code code;
    if (!sm::ReadCode(tokens, maxDwords, &code, &reason)) {
      if (why) *why = reason;
      return false;
    }
    auto compiled = std::make_shared<sm::Compiled>();
    const bool avx2 = path == ShaderCodePath::kBest && sm::HaveAvx2();
    compiled->path = avx2 ? ShaderCodePath::kBest : ShaderCodePath::kGeneric;
    if (!sm::Translate(code, avx2 ? sm::Avx2Kernels() : sm::GenericKernels(), compiled.get(),
                       &reason)) {
      if (why) *why = reason;
      return false;
    }
    out->compiled_ = std::move(compiled);
  } catch (const std::bad_alloc&) {
    if (why) *why = "out of memory";
    return false;
  }
  return true;
}

// --- ShaderExecutor --------------------------------------------------------------------------

struct ShaderExecutor::Impl {
  float* regs = nullptr;
  sm::State st;
  const sm::Compiled* program = nullptr;
  ShaderSampler* sampler = nullptr;
  int64_t budget = int64_t(1) << 18;
  alignas(64) float fconst[256][4] = {};
  INT iconst[16][4] = {};
  BOOL bconst[16] = {};

  Impl() {
    regs = static_cast<float*>(
        ::operator new[](size_t(sm::kChannels) * sm::kChannelBytes, std::align_val_t(64)));
    std::memset(regs, 0, size_t(sm::kChannels) * sm::kChannelBytes);
    float* one = sm::Channel(regs, sm::kOneChannel);
    for (int l = 0; l < sm::kLanes; ++l) one[l] = 1.f;
  }
  ~Impl() { ::operator delete[](regs, std::align_val_t(64)); }

  bool Run(uint32_t mask) {
    st.R = regs;
    st.ops = program->ops.data();
    st.SetMask(mask);
    st.failed = false;
    st.killed = 0;
    st.budget = budget;
    st.aL = 0;
    st.depth = 0;
    st.loop = -1;
    st.fconst = fconst;
    st.iconst = iconst;
    st.bconst = bconst;
    st.sampler = sampler;
    st.stage = program->type;
    const sm::Op* op = st.ops;
    while (op) op = st.full ? op->fn(op, st) : op->masked(op, st);
    return !st.failed;
  }
};

ShaderExecutor::ShaderExecutor() : impl_(new Impl) {}
ShaderExecutor::~ShaderExecutor() = default;

void ShaderExecutor::Bind(const ShaderProgram& program, const ShaderConstants& constants,
                          ShaderSampler* sampler) {
  Impl& m = *impl_;
  m.program = program.compiled();
  m.sampler = sampler;
  std::memset(m.fconst, 0, sizeof m.fconst);
  std::memset(m.iconst, 0, sizeof m.iconst);
  std::memset(m.bconst, 0, sizeof m.bconst);
  if (constants.f) {
    const UINT n = constants.f_count < 256 ? constants.f_count : 256;
    std::memcpy(m.fconst, constants.f, size_t(n) * 4 * sizeof(float));
  }
  if (constants.i) std::memcpy(m.iconst, constants.i, sizeof m.iconst);
  if (constants.b) std::memcpy(m.bconst, constants.b, sizeof m.bconst);
  if (!m.program) return;
  for (const ShaderFloatDef& d : m.program->float_defs) std::memcpy(m.fconst[d.reg], d.v, 16);
  for (const ShaderIntDef& d : m.program->int_defs) std::memcpy(m.iconst[d.reg], d.v, 16);
  for (const ShaderBoolDef& d : m.program->bool_defs) m.bconst[d.reg] = d.v;
  for (auto [reg, channel] : m.program->const_channels) {
    for (int k = 0; k < 4; ++k) {
      float* ch = sm::Channel(m.regs, uint16_t(channel + k));
      for (int l = 0; l < sm::kLanes; ++l) ch[l] = m.fconst[reg][k];
    }
  }
}

VertexBatch& ShaderExecutor::vertices() {
  return *reinterpret_cast<VertexBatch*>(impl_->regs);
}
PixelBatch& ShaderExecutor::pixels() {
  return *reinterpret_cast<PixelBatch*>(impl_->regs);
}

bool ShaderExecutor::RunVertices(int count) {
  Impl& m = *impl_;
  if (!m.program || m.program->type != ShaderType::kVertex || count < 1 || count > kShaderLanes)
    return false;
  return m.Run(count == kShaderLanes ? kAllShaderLanes : (1u << count) - 1);
}

uint32_t ShaderExecutor::RunPixels(uint32_t coverage) {
  Impl& m = *impl_;
  if (!m.program || m.program->type != ShaderType::kPixel) return 0;
  if (!m.Run(kAllShaderLanes)) return 0;
  return coverage & ~m.st.killed & kAllShaderLanes;
}

void ShaderExecutor::SetBudget(int64_t instructions) {
  impl_->budget = instructions < 1 ? 1 : instructions;
}

}  // namespace vexa
