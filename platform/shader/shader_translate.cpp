// Validated tokens to executor operations: registers become channels, swizzles become channel
// choices, macros (m4x4 ...) become their dot products, relative addressing becomes a gather into
// scratch channels, and flow control becomes kernels with resolved targets.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "shader/shader_internal.h"

namespace vexa::sm {

namespace {

const Op* CtlEnd(const Op*, State&);

class Translator {
 public:
  Translator(const Code& code, const KernelTable& k, Compiled* out)
      : c_(code), k_(k), out_(out), vs_(code.type == ShaderType::kVertex) {}

  bool Run(std::string* why);

 private:
  const Code& c_;
  const KernelTable& k_;
  Compiled* out_;
  bool vs_;
  std::string* why_ = nullptr;
  int16_t const_channel_[256];
  struct Pending {
    size_t op;      // the control op to patch
    uint16_t kind;  // its opcode
  };
  std::vector<Pending> open_;
  std::vector<std::pair<int, size_t>> labels_;  // label -> op index
  std::vector<size_t> calls_;                   // call ops, patched once labels are known

  bool Fail(const Instruction& in, const char* text) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "dword %u: %s", in.offset, text);
    *why_ = buf;
    return false;
  }

  static uint16_t BatchChannel(size_t offset) { return uint16_t(offset / kChannelBytes); }

  // Channel of component k of a register (after any relative addressing was resolved).
  uint16_t ChannelOf(uint8_t type, uint16_t index, int k) {
    switch (type) {
      case D3DSPR_TEMP:
        return uint16_t(kTempBase + 4 * index + k);
      case D3DSPR_INPUT:
        if (vs_) return uint16_t(BatchChannel(offsetof(VertexBatch, input)) + 4 * index + k);
        if (c_.major >= 3)
          return uint16_t(BatchChannel(offsetof(PixelBatch, input)) + 4 * index + k);
        return uint16_t(BatchChannel(offsetof(PixelBatch, input)) + 4 * (kPs2SlotColor0 + index) +
                        k);
      case D3DSPR_ADDR:
        if (vs_) return uint16_t(kAddrBase + k);
        return uint16_t(BatchChannel(offsetof(PixelBatch, input)) +
                        4 * (kPs2SlotTexcoord0 + index) + k);
      case D3DSPR_CONST: {
        if (const_channel_[index] < 0) {
          const_channel_[index] = int16_t(kConstBase + 4 * out_->const_channels.size());
          out_->const_channels.push_back({index, uint16_t(const_channel_[index])});
        }
        return uint16_t(const_channel_[index] + k);
      }
      case D3DSPR_MISCTYPE:
        if (index == D3DSMO_FACE) return BatchChannel(offsetof(PixelBatch, face));
        if (k < 2) return uint16_t(BatchChannel(offsetof(PixelBatch, position)) + k);
        return kZeroChannel;
      case D3DSPR_PREDICATE:
        return uint16_t(kPredBase + k);
      case D3DSPR_RASTOUT: {
        const int slot = index == D3DSRO_POSITION ? kVs2SlotPosition
                         : index == D3DSRO_FOG    ? kVs2SlotFog
                                                  : kVs2SlotPointSize;
        return uint16_t(BatchChannel(offsetof(VertexBatch, output)) + 4 * slot + k);
      }
      case D3DSPR_ATTROUT:
        return uint16_t(BatchChannel(offsetof(VertexBatch, output)) + 4 * (kVs2SlotColor0 + index) +
                        k);
      case D3DSPR_OUTPUT:
        if (c_.major >= 3)
          return uint16_t(BatchChannel(offsetof(VertexBatch, output)) + 4 * index + k);
        return uint16_t(BatchChannel(offsetof(VertexBatch, output)) +
                        4 * (kVs2SlotTexcoord0 + index) + k);
      case D3DSPR_COLOROUT:
        return uint16_t(BatchChannel(offsetof(PixelBatch, color)) + 4 * index + k);
      case D3DSPR_DEPTHOUT:
        return BatchChannel(offsetof(PixelBatch, depth));
      default:
        return kZeroChannel;
    }
  }

  static void Modifier(uint8_t mod, uint32_t m[2]) {
    m[0] = (mod == 11 || mod == 12) ? 0x7FFFFFFFu : 0xFFFFFFFFu;
    m[1] = (mod == 1 || mod == 12) ? 0x80000000u : 0u;
  }

  Op& Add(Kernel fn, Kernel masked = nullptr) {
    Op& op = out_->ops.emplace_back();
    op.fn = fn;
    op.masked = masked ? masked : fn;
    return op;
  }

  // A compute operation: runs whole, under the lane mask, or under the predicate.
  Op& Compute(uint16_t kernel, int variant, const Instruction& in) {
    Kernel k = k_.k[kernel][variant];
    Op& op = out_->ops.emplace_back();
    op.body = k;
    if (in.predicated) {
      op.fn = op.masked = RunPredicated;
      op.pred_not = in.pred.mod == 13;
    } else {
      op.fn = k;
      op.masked = RunMasked;
    }
    for (auto& m : op.mod) m[0] = 0xFFFFFFFFu;
    return op;
  }

  static int Variant(const Instruction& in, bool sat) {
    int v = sat ? 2 : 0;
    for (int i = 0; i < in.nsrc; ++i)
      if (in.src[i].mod == 1 || in.src[i].mod == 11 || in.src[i].mod == 12) v |= 1;
    return v;
  }

  // Sources with relative addressing are gathered into scratch channels first; returns the
  // register the instruction then reads.
  Param Resolve(const Instruction& in, const Param& p, int slot) {
    if (!p.relative) return p;
    const uint16_t base = uint16_t(kScratchSource + 4 * slot);
    Op* op;
    if (p.type == D3DSPR_CONST && p.rel_type == D3DSPR_ADDR) {
      op = &Add(k_.k[kKGatherConstA0][0], RunMasked);
      op->s[0][0] = uint16_t(kAddrBase + p.rel_component);
    } else if (p.type == D3DSPR_CONST) {
      op = &Add(k_.k[kKGatherConstAL][0], RunMasked);
    } else {
      op = &Add(k_.k[kKGatherRegAL][0], RunMasked);
      op->s[0][0] = ChannelOf(D3DSPR_INPUT, 0, 0);
      op->sub = uint8_t(vs_ ? kVertexInputRegisters : kPixelInputSlots);
    }
    op->body = op->fn;
    op->a = p.index;
    op->n = 4;
    for (int k = 0; k < 4; ++k) {
      op->d[k] = uint16_t(base + k);
      op->dc[k] = uint8_t(k);
    }
    Param r = p;
    r.relative = false;
    r.type = D3DSPR_TEMP;  // placeholder: channels below point at the scratch
    r.index = uint16_t(0xFFFF);
    scratch_base_[slot] = base;
    return r;
  }
  uint16_t scratch_base_[4] = {};

  uint16_t SourceChannel(const Param& p, int slot, int k) {
    const int comp = SwizzleComponent(p.swizzle, k);
    if (p.index == 0xFFFF && p.type == D3DSPR_TEMP) return uint16_t(scratch_base_[slot] + comp);
    return ChannelOf(p.type, p.index, comp);
  }

  void SetDest(Op& op, const Param& d, bool use_scratch) {
    op.n = 0;
    for (int k = 0; k < 4; ++k) {
      if (!(d.mask >> k & 1)) continue;
      op.d[op.n] = use_scratch ? uint16_t(kScratchDest + k) : ChannelOf(d.type, d.index, k);
      op.dc[op.n] = uint8_t(k);
      op.pred[op.n] = 0;
      ++op.n;
    }
  }
  void SetPredicate(Op& op, const Instruction& in) {
    if (!in.predicated) return;
    for (int j = 0; j < op.n; ++j)
      op.pred[j] = uint16_t(kPredBase + SwizzleComponent(in.pred.swizzle, op.dc[j]));
  }
  // Component-wise sources follow the destination components.
  void SetSourcesCw(Op& op, const Param* src, int count) {
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < op.n; ++j) op.s[i][j] = SourceChannel(src[i], i, op.dc[j]);
      Modifier(src[i].mod, op.mod[i]);
    }
  }
  void SetSourcesVec(Op& op, const Param* src, int count) {
    for (int i = 0; i < count; ++i) {
      for (int k = 0; k < 4; ++k) op.s[i][k] = SourceChannel(src[i], i, k);
      Modifier(src[i].mod, op.mod[i]);
    }
  }

  // Moves the scratch destination into the real one after an operation that had to write
  // elsewhere (overlap, or relative output).
  void CopyFromScratch(const Instruction& in) {
    const Param& d = in.dst;
    if (d.relative) {
      Op& op = Add(k_.k[kKScatterRegAL][0]);
      op.body = op.fn;
      op.a = d.index;
      op.b = ChannelOf(D3DSPR_OUTPUT, 0, 0);
      op.sub = 12;
      for (int k = 0; k < 4; ++k) {
        if (!(d.mask >> k & 1)) continue;
        op.s[0][op.n] = uint16_t(kScratchDest + k);
        op.dc[op.n] = uint8_t(k);
        ++op.n;
      }
      return;
    }
    Instruction mov = in;
    mov.nsrc = 0;
    Op& op = Compute(kKMov, 0, mov);
    SetDest(op, d, false);
    SetPredicate(op, in);
    for (int j = 0; j < op.n; ++j) op.s[0][j] = uint16_t(kScratchDest + op.dc[j]);
  }

  bool ComponentWise(const Instruction& in, uint16_t kernel, int nsrc);
  bool Scalar(const Instruction& in, uint16_t kernel, int nsrc);
  bool Vector(const Instruction& in, uint16_t kernel, int nsrc, const Param* src);
  bool Matrix(const Instruction& in);
  bool Texture(const Instruction& in);
  bool Control(const Instruction& in);
  void Describe();
  void Fuse();
};

// Pairs of operations that run as one kernel when all lanes are active. The first operation's
// fn becomes the fused kernel, which also runs the second and skips it; its masked path and the
// second operation stay as they were, so partial runs, predicated operations and jumps (which
// only ever land on control operations or just after them) see the unfused program.
void Translator::Fuse() {
  std::vector<Op>& ops = out_->ops;
  for (size_t i = 0; i + 1 < ops.size(); ++i) {
    Op& a = ops[i];
    const Op& b = ops[i + 1];
    if (b.s[0][0] != a.d[0] || b.s[0][1] != a.d[1] || b.s[0][2] != a.d[2]) continue;
    int va = 0, vn = 0;
    while (va < 4 && a.fn != (*k_.cw)[kKAdd][2][va]) ++va;
    while (vn < 4 && b.fn != (*k_.nrm)[2][vn]) ++vn;
    if (va == 4 || vn == 4) continue;
    a.fn = (*k_.add_nrm3)[va][vn];
    ++out_->fused;
    ++i;  // the nrm is taken: it cannot start another pair
  }
}

bool Translator::ComponentWise(const Instruction& in, uint16_t kernel, int nsrc) {
  Param src[4];
  for (int i = 0; i < nsrc; ++i) src[i] = Resolve(in, in.src[i], i);
  Op probe;
  SetDest(probe, in.dst, false);
  // A component that reads what an earlier component of the same operation wrote needs the
  // result computed aside first.
  bool overlap = in.dst.relative;
  for (int i = 0; i < nsrc && !overlap; ++i)
    for (int j = 0; j < probe.n && !overlap; ++j)
      for (int j2 = j + 1; j2 < probe.n; ++j2)
        if (SourceChannel(src[i], i, probe.dc[j2]) == probe.d[j]) overlap = true;
  const int variant = Variant(in, in.dst.mod & 1);
  Op& op = Compute(kernel, variant, in);
  SetDest(op, in.dst, overlap);
  SetPredicate(op, in);
  SetSourcesCw(op, src, nsrc);
  // The unrolled kernel for this channel count, where there is one.
  if (op.n >= 1 && op.n <= 4 && kernel <= kKMova) {
    const Kernel unrolled = (*k_.cw)[kernel][op.n - 1][variant];
    if (unrolled) {
      op.body = unrolled;
      if (op.fn != RunPredicated) op.fn = unrolled;
    }
  }
  if (overlap) CopyFromScratch(in);
  return true;
}

bool Translator::Scalar(const Instruction& in, uint16_t kernel, int nsrc) {
  Param src[4];
  for (int i = 0; i < nsrc; ++i) src[i] = Resolve(in, in.src[i], i);
  Op& op = Compute(kernel, Variant(in, in.dst.mod & 1), in);
  SetDest(op, in.dst, in.dst.relative);
  SetPredicate(op, in);
  SetSourcesVec(op, src, nsrc);
  if (in.dst.relative) CopyFromScratch(in);
  return true;
}

bool Translator::Vector(const Instruction& in, uint16_t kernel, int nsrc, const Param* given) {
  Param src[4];
  for (int i = 0; i < nsrc; ++i) src[i] = Resolve(in, given[i], i);
  Op& op = Compute(kernel, Variant(in, in.dst.mod & 1), in);
  SetDest(op, in.dst, in.dst.relative);
  SetPredicate(op, in);
  SetSourcesVec(op, src, nsrc);
  if (kernel == kKNrm && op.n >= 1) {
    // Each destination's own source channel, so the kernel needs no indexing by component.
    for (int j = 0; j < op.n; ++j) op.s[1][j] = op.s[0][op.dc[j]];
    op.mod[1][0] = op.mod[0][0];
    op.mod[1][1] = op.mod[0][1];
    const Kernel k = (*k_.nrm)[op.n - 1][Variant(in, in.dst.mod & 1)];
    op.body = k;
    if (op.fn != RunPredicated) op.fn = k;
  }
  if (in.dst.relative) CopyFromScratch(in);
  return true;
}

// m4x4 and friends: one dot product per row, into scratch when the result overlaps a source.
bool Translator::Matrix(const Instruction& in) {
  const int rows = in.op == D3DSIO_M4x4   ? 4
                   : in.op == D3DSIO_M4x3 ? 3
                   : in.op == D3DSIO_M3x4 ? 4
                   : in.op == D3DSIO_M3x3 ? 3
                                          : 2;
  const uint16_t kernel = (in.op == D3DSIO_M4x4 || in.op == D3DSIO_M4x3) ? kKDp4 : kKDp3;
  const Param& m = in.src[1];
  bool overlap = in.dst.relative;
  if (in.dst.type == in.src[0].type && in.dst.index == in.src[0].index) overlap = true;
  if (in.dst.type == m.type && in.dst.index >= m.index && in.dst.index < m.index + rows)
    overlap = true;
  Param dst = in.dst;
  const Param src0 = Resolve(in, in.src[0], 0);
  for (int r = 0; r < rows; ++r) {
    if (!(in.dst.mask >> r & 1)) continue;
    Param row = m;
    row.index = uint16_t(m.index + r);
    const Param rs = Resolve(in, row, 1);
    Op& op = Compute(kernel, Variant(in, in.dst.mod & 1), in);
    dst.mask = uint8_t(1 << r);
    SetDest(op, dst, overlap);
    SetPredicate(op, in);
    const Param both[2] = {src0, rs};
    SetSourcesVec(op, both, 2);
  }
  if (overlap) CopyFromScratch(in);
  return true;
}

bool Translator::Texture(const Instruction& in) {
  const Param& sampler = in.src[1];
  Param src[4];
  src[0] = Resolve(in, in.src[0], 0);
  const int ngrad = in.op == D3DSIO_TEXLDD ? 2 : 0;
  for (int g = 0; g < ngrad; ++g) {
    // Gradients are read raw: apply any modifier with a move into scratch first.
    src[2 + g] = Resolve(in, in.src[2 + g], 2 + g);
    if (src[2 + g].mod) {
      Instruction mov;
      Op& op = Compute(kKMov, 1, mov);
      const uint16_t base = uint16_t(kScratchSource + 4 * (2 + g));
      op.n = 4;
      for (int k = 0; k < 4; ++k) {
        op.d[k] = uint16_t(base + k);
        op.dc[k] = uint8_t(k);
        op.s[0][k] = SourceChannel(src[2 + g], 2 + g, k);
      }
      Modifier(src[2 + g].mod, op.mod[0]);
      src[2 + g].type = D3DSPR_TEMP;
      src[2 + g].index = 0xFFFF;
      src[2 + g].swizzle = kIdentitySwizzle;
      src[2 + g].mod = 0;
      scratch_base_[2 + g] = base;
    }
  }
  const int variant = ((in.dst.mod & 1) ? 2 : 0) | (src[0].mod ? 1 : 0);
  Op& op = Compute(kKTex, variant, in);
  SetDest(op, in.dst, in.dst.relative);
  SetPredicate(op, in);
  for (int k = 0; k < 4; ++k) op.s[0][k] = SourceChannel(src[0], 0, k);
  Modifier(src[0].mod, op.mod[0]);
  for (int g = 0; g < ngrad; ++g)
    for (int k = 0; k < 4; ++k) op.s[2 + g][k] = SourceChannel(src[2 + g], 2 + g, k);
  op.a = sampler.index;
  op.b = sampler.swizzle;
  for (int j = 0; j < op.n; ++j)
    op.comps |= uint8_t(1 << SwizzleComponent(sampler.swizzle, op.dc[j]));
  op.c = int32_t(out_->sampler_types[sampler.index]);
  if (in.op == D3DSIO_TEXLDL || vs_) {
    op.sub = uint8_t(SampleMode::kLod);
  } else if (in.op == D3DSIO_TEXLDD) {
    op.sub = uint8_t(SampleMode::kGrad);
  } else if (in.control == (D3DSI_TEXLD_BIAS >> 16)) {
    op.sub = uint8_t(SampleMode::kBias);
  } else {
    op.sub = uint8_t(SampleMode::kImplicit);
    if (in.control == (D3DSI_TEXLD_PROJECT >> 16)) op.flags |= kOpProject;
  }
  if (in.dst.relative) CopyFromScratch(in);
  return true;
}

// --- control flow ----------------------------------------------------------------------------

uint32_t LaneBits(const float* ch) {
  uint32_t m = 0;
  for (int l = 0; l < kLanes; ++l) m |= uint32_t(ch[l] != 0.f) << l;
  return m;
}

float ApplyMod(float x, const uint32_t* m) {
  uint32_t b;
  std::memcpy(&b, &x, 4);
  b = (b & m[0]) ^ m[1];
  std::memcpy(&x, &b, 4);
  return x;
}

bool Holds(float a, float b, int cmp) {
  switch (cmp) {
    case D3DSPC_GT:
      return a > b;
    case D3DSPC_EQ:
      return a == b;
    case D3DSPC_GE:
      return a >= b;
    case D3DSPC_LT:
      return a < b;
    case D3DSPC_NE:
      return a != b;
    case D3DSPC_LE:
      return a <= b;
    default:
      return false;
  }
}

uint32_t CompareBits(const Op* op, State& st) {
  const float* a = Channel(st.R, op->s[0][0]);
  const float* b = Channel(st.R, op->s[1][0]);
  uint32_t m = 0;
  for (int l = 0; l < kLanes; ++l)
    m |= uint32_t(Holds(ApplyMod(a[l], op->mod[0]), ApplyMod(b[l], op->mod[1]), op->sub)) << l;
  return m;
}

uint32_t PredBits(const Op* op, State& st) {
  const uint32_t m = LaneBits(Channel(st.R, op->s[0][0]));
  return op->pred_not ? ~m & kAllShaderLanes : m;
}

uint32_t Exited(const State& st, int frame) {
  return frame >= 0 ? st.frames[frame].exited : 0;
}

// Opens an if frame whose condition held on `cond` lanes; skips to else/endif with no lanes.
const Op* OpenIf(const Op* op, State& st, uint32_t cond) {
  if (st.depth >= kMaxFrames) {
    st.failed = true;
    return nullptr;
  }
  Frame& f = st.frames[st.depth++];
  f.kind = kFrameIf;
  f.entry = st.mask;
  f.cond = cond;
  f.enclosing = st.loop;
  st.SetMask(st.mask & cond);
  if (st.mask == 0) return st.ops + op->a;
  return op + 1;
}

const Op* CtlIfBool(const Op* op, State& st) {
  return OpenIf(op, st, st.bconst[op->b] ? kAllShaderLanes : 0);
}
const Op* CtlIfPred(const Op* op, State& st) {
  return OpenIf(op, st, PredBits(op, st));
}
const Op* CtlIfc(const Op* op, State& st) {
  return OpenIf(op, st, CompareBits(op, st));
}
const Op* CtlElse(const Op* op, State& st) {
  Frame& f = st.frames[st.depth - 1];
  st.SetMask(f.entry & ~f.cond & ~Exited(st, f.enclosing));
  if (st.mask == 0) return st.ops + op->a;
  return op + 1;
}
const Op* CtlEndif(const Op* op, State& st) {
  Frame& f = st.frames[--st.depth];
  st.SetMask(f.entry & ~Exited(st, f.enclosing));
  return op + 1;
}

const Op* OpenLoop(const Op* op, State& st, int count, bool counter, int start, int step) {
  if (count <= 0 || st.mask == 0) return st.ops + op->a;
  if (st.depth >= kMaxFrames) {
    st.failed = true;
    return nullptr;
  }
  Frame& f = st.frames[st.depth];
  f.kind = kFrameLoop;
  f.entry = st.mask;
  f.exited = 0;
  f.count = count;
  f.step = counter ? step : 0;
  f.saved_aL = st.aL;
  f.top = op + 1;
  f.enclosing = st.loop;
  if (counter) st.aL = start;
  st.loop = st.depth++;
  return op + 1;
}
int Clamp255(int v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}
const Op* CtlLoop(const Op* op, State& st) {
  const INT* i = st.iconst[op->b];
  return OpenLoop(op, st, Clamp255(i[0]), true, i[1], i[2]);
}
const Op* CtlRep(const Op* op, State& st) {
  return OpenLoop(op, st, Clamp255(st.iconst[op->b][0]), false, 0, 0);
}
const Op* CtlEndLoop(const Op* op, State& st) {
  Frame& f = st.frames[st.depth - 1];
  st.budget -= (op - f.top) + 2;
  if (st.budget < 0) {
    st.failed = true;
    return nullptr;
  }
  const uint32_t live = f.entry & ~f.exited & ~Exited(st, f.enclosing);
  if (--f.count > 0 && live) {
    st.SetMask(live);
    st.aL += f.step;
    return f.top;
  }
  st.aL = f.saved_aL;
  st.loop = f.enclosing;
  --st.depth;
  st.SetMask(f.entry & ~Exited(st, f.enclosing));
  return op + 1;
}

// Lanes leaving the innermost loop.
const Op* Leave(const Op* op, State& st, uint32_t lanes) {
  lanes &= st.mask;
  if (st.loop >= 0) st.frames[st.loop].exited |= lanes;
  st.SetMask(st.mask & ~lanes);
  if (st.mask == 0) return st.ops + (op + 1)->next_ctrl;  // skip to the next control operation
  return op + 1;
}
const Op* CtlBreak(const Op* op, State& st) {
  return Leave(op, st, st.mask);
}
const Op* CtlBreakc(const Op* op, State& st) {
  return Leave(op, st, CompareBits(op, st));
}
const Op* CtlBreakp(const Op* op, State& st) {
  return Leave(op, st, PredBits(op, st));
}

const Op* Call(const Op* op, State& st, uint32_t lanes) {
  lanes &= st.mask;
  if (lanes == 0) return op + 1;
  if (st.depth >= kMaxFrames) {
    st.failed = true;
    return nullptr;
  }
  st.budget -= 1;
  Frame& f = st.frames[st.depth];
  f.kind = kFrameCall;
  f.entry = st.mask;
  f.exited = 0;
  f.top = op + 1;
  f.enclosing = st.loop;
  st.loop = st.depth++;
  st.SetMask(lanes);
  return st.ops + op->a;
}
const Op* CtlCall(const Op* op, State& st) {
  return Call(op, st, kAllShaderLanes);
}
const Op* CtlCallnzBool(const Op* op, State& st) {
  return Call(op, st, st.bconst[op->b] ? kAllShaderLanes : 0);
}
const Op* CtlCallnzPred(const Op* op, State& st) {
  return Call(op, st, PredBits(op, st));
}
// ret at the top level of a subroutine; in the main program it ends the run.
const Op* CtlRet(const Op* op, State& st) {
  if (st.depth == 0) return nullptr;
  const Frame& f = st.frames[--st.depth];
  st.loop = f.enclosing;
  st.SetMask(f.entry & ~Exited(st, f.enclosing));
  return f.top;
}
const Op* CtlNop(const Op* op, State&) {
  return op + 1;
}
const Op* CtlEnd(const Op*, State&) {
  return nullptr;
}

bool IsControl(Kernel k) {
  return k == CtlIfBool || k == CtlIfPred || k == CtlIfc || k == CtlElse || k == CtlEndif ||
         k == CtlLoop || k == CtlRep || k == CtlEndLoop || k == CtlBreak || k == CtlBreakc ||
         k == CtlBreakp || k == CtlCall || k == CtlCallnzBool || k == CtlCallnzPred ||
         k == CtlRet || k == CtlNop || k == CtlEnd;
}

bool Translator::Control(const Instruction& in) {
  const size_t at = out_->ops.size();
  switch (in.op) {
    case D3DSIO_IF: {
      const Param& p = in.src[0];
      if (p.type == D3DSPR_CONSTBOOL) {
        Add(CtlIfBool).b = p.index;
      } else {
        Op& op = Add(CtlIfPred);
        op.s[0][0] = uint16_t(kPredBase + SwizzleComponent(p.swizzle, 0));
        op.pred_not = p.mod == 13;
      }
      open_.push_back({at, D3DSIO_IF});
      return true;
    }
    case D3DSIO_IFC: {
      Param src[2] = {Resolve(in, in.src[0], 0), Resolve(in, in.src[1], 1)};
      const size_t pos = out_->ops.size();
      Op& op = Add(CtlIfc);
      for (int i = 0; i < 2; ++i) {
        op.s[i][0] = SourceChannel(src[i], i, 0);
        Modifier(src[i].mod, op.mod[i]);
      }
      op.sub = in.control;
      open_.push_back({pos, D3DSIO_IF});
      return true;
    }
    case D3DSIO_ELSE: {
      out_->ops[open_.back().op].a = int32_t(at);
      open_.back() = {at, D3DSIO_ELSE};
      Add(CtlElse);
      return true;
    }
    case D3DSIO_ENDIF:
      out_->ops[open_.back().op].a = int32_t(at);
      open_.pop_back();
      Add(CtlEndif);
      return true;
    case D3DSIO_LOOP:
      Add(CtlLoop).b = in.src[1].index;
      open_.push_back({at, D3DSIO_LOOP});
      return true;
    case D3DSIO_REP:
      Add(CtlRep).b = in.src[0].index;
      open_.push_back({at, D3DSIO_REP});
      return true;
    case D3DSIO_ENDLOOP:
    case D3DSIO_ENDREP:
      Add(CtlEndLoop);
      out_->ops[open_.back().op].a = int32_t(at + 1);
      open_.pop_back();
      return true;
    case D3DSIO_BREAK:
      Add(CtlBreak);
      return true;
    case D3DSIO_BREAKC: {
      Param src[2] = {Resolve(in, in.src[0], 0), Resolve(in, in.src[1], 1)};
      Op& op = Add(CtlBreakc);
      for (int i = 0; i < 2; ++i) {
        op.s[i][0] = SourceChannel(src[i], i, 0);
        Modifier(src[i].mod, op.mod[i]);
      }
      op.sub = in.control;
      return true;
    }
    case D3DSIO_BREAKP: {
      Op& op = Add(CtlBreakp);
      op.s[0][0] = uint16_t(kPredBase + SwizzleComponent(in.src[0].swizzle, 0));
      op.pred_not = in.src[0].mod == 13;
      return true;
    }
    case D3DSIO_CALL:
    case D3DSIO_CALLNZ: {
      Kernel k = CtlCall;
      if (in.op == D3DSIO_CALLNZ)
        k = in.src[1].type == D3DSPR_CONSTBOOL ? CtlCallnzBool : CtlCallnzPred;
      Op& op = Add(k);
      op.b = in.op == D3DSIO_CALLNZ ? in.src[1].index : 0;
      op.a = in.src[0].index;  // the label, resolved below
      if (k == CtlCallnzPred) {
        op.s[0][0] = uint16_t(kPredBase + SwizzleComponent(in.src[1].swizzle, 0));
        op.pred_not = in.src[1].mod == 13;
      }
      calls_.push_back(at);
      return true;
    }
    case D3DSIO_RET:
      Add(CtlRet);
      return true;
    case D3DSIO_LABEL:
      labels_.push_back({in.src[0].index, at});
      Add(CtlNop);
      return true;
    default:
      return Fail(in, "unhandled flow control");
  }
}

void Translator::Describe() {
  Compiled& o = *out_;
  o.type = c_.type;
  o.version = c_.version;
  o.dwords = c_.dwords;
  o.float_defs = c_.float_defs;
  o.int_defs = c_.int_defs;
  o.bool_defs = c_.bool_defs;
  for (const Declaration& d : c_.decls) {
    if (d.type == D3DSPR_SAMPLER) {
      o.samplers.push_back(
          ShaderSamplerUse{BYTE(d.index), D3DSAMPLER_TEXTURE_TYPE(d.texture_type)});
      o.sampler_types[d.index] = d.texture_type;
    } else if (d.type == D3DSPR_MISCTYPE) {
      (d.index == D3DSMO_FACE ? o.uses_face : o.uses_position) = true;
    } else if (d.type == D3DSPR_OUTPUT) {
      o.outputs.push_back(ShaderSemantic{d.usage, d.usage_index, BYTE(d.index), d.mask});
    } else {
      BYTE slot = BYTE(d.index);
      if (!vs_ && c_.major < 3)
        slot =
            BYTE(d.type == D3DSPR_INPUT ? kPs2SlotColor0 + d.index : kPs2SlotTexcoord0 + d.index);
      o.inputs.push_back(ShaderSemantic{d.usage, d.usage_index, slot, d.mask});
    }
  }
  // Outputs of fixed meaning are known from the registers written.
  auto add_output = [&](BYTE usage, BYTE index, BYTE slot, BYTE mask) {
    for (ShaderSemantic& s : o.outputs)
      if (s.slot == slot && s.usage == usage && s.usage_index == index) {
        s.mask |= mask;
        return;
      }
    o.outputs.push_back(ShaderSemantic{usage, index, slot, mask});
  };
  for (const Instruction& in : c_.code) {
    if (in.op == D3DSIO_TEXKILL) o.may_kill = true;
    if (!in.has_dst || in.op == D3DSIO_TEXKILL) continue;
    const Param& d = in.dst;
    switch (d.type) {
      case D3DSPR_RASTOUT:
        if (d.index == D3DSRO_POSITION)
          add_output(D3DDECLUSAGE_POSITION, 0, kVs2SlotPosition, d.mask);
        else if (d.index == D3DSRO_FOG)
          add_output(D3DDECLUSAGE_FOG, 0, kVs2SlotFog, 1);
        else
          add_output(D3DDECLUSAGE_PSIZE, 0, kVs2SlotPointSize, 1);
        break;
      case D3DSPR_ATTROUT:
        add_output(D3DDECLUSAGE_COLOR, BYTE(d.index), BYTE(kVs2SlotColor0 + d.index), d.mask);
        break;
      case D3DSPR_OUTPUT:
        if (c_.major < 3)
          add_output(D3DDECLUSAGE_TEXCOORD, BYTE(d.index), BYTE(kVs2SlotTexcoord0 + d.index),
                     d.mask);
        break;
      case D3DSPR_COLOROUT:
        add_output(D3DDECLUSAGE_COLOR, BYTE(d.index), BYTE(d.index), d.mask);
        break;
      case D3DSPR_DEPTHOUT:
        o.writes_depth = true;
        add_output(D3DDECLUSAGE_DEPTH, 0, 0, 1);
        break;
      default:
        break;
    }
  }
}

// Compilers must write whole registers in some places (texld in shader model 2 has a full write
// mask), so many written components are never read. Backward liveness of the temporaries within
// straight-line code narrows each write to what is read later and drops writes nobody reads: a
// texture read then fetches only the colour channels used. Flow control makes every component
// live, so only code between two flow instructions (or before the end) is narrowed.
bool IsStraightLine(uint16_t op) {
  switch (op) {
    case D3DSIO_NOP:
    case D3DSIO_MOV:
    case D3DSIO_ADD:
    case D3DSIO_SUB:
    case D3DSIO_MUL:
    case D3DSIO_MAD:
    case D3DSIO_MIN:
    case D3DSIO_MAX:
    case D3DSIO_SLT:
    case D3DSIO_SGE:
    case D3DSIO_FRC:
    case D3DSIO_ABS:
    case D3DSIO_SGN:
    case D3DSIO_LRP:
    case D3DSIO_CMP:
    case D3DSIO_DSX:
    case D3DSIO_DSY:
    case D3DSIO_MOVA:
    case D3DSIO_SETP:
    case D3DSIO_RCP:
    case D3DSIO_RSQ:
    case D3DSIO_EXP:
    case D3DSIO_EXPP:
    case D3DSIO_LOG:
    case D3DSIO_LOGP:
    case D3DSIO_POW:
    case D3DSIO_DP2ADD:
    case D3DSIO_DP3:
    case D3DSIO_DP4:
    case D3DSIO_SINCOS:
    case D3DSIO_NRM:
    case D3DSIO_CRS:
    case D3DSIO_LIT:
    case D3DSIO_DST:
    case D3DSIO_M4x4:
    case D3DSIO_M4x3:
    case D3DSIO_M3x4:
    case D3DSIO_M3x3:
    case D3DSIO_M3x2:
    case D3DSIO_TEX:
    case D3DSIO_TEXLDL:
    case D3DSIO_TEXLDD:
    case D3DSIO_TEXKILL:
      return true;
    default:
      return false;
  }
}

std::vector<Instruction> NarrowDeadWrites(const std::vector<Instruction>& code) {
  constexpr int kTemps = 32;
  uint8_t live[kTemps] = {};  // at the end every temporary is dead
  std::vector<Instruction> out;
  out.reserve(code.size());
  auto all_live = [&] {
    for (uint8_t& m : live) m = 0xF;
  };
  auto read = [&](const Param& p) {
    if (p.type != D3DSPR_TEMP) return;
    if (p.relative || p.index >= kTemps) return all_live();
    for (int k = 0; k < 4; ++k) live[p.index] |= uint8_t(1 << SwizzleComponent(p.swizzle, k));
  };
  for (size_t i = code.size(); i-- > 0;) {
    Instruction in = code[i];
    const bool straight = IsStraightLine(in.op);
    if (!straight) {
      all_live();
      out.push_back(in);
      continue;
    }
    if (in.op == D3DSIO_TEXKILL) {
      read(in.dst);
    } else if (in.has_dst && in.dst.type == D3DSPR_TEMP && !in.dst.relative &&
               in.dst.index < kTemps) {
      const uint8_t used = in.dst.mask & live[in.dst.index];
      if (used == 0) continue;
      in.dst.mask = used;
      if (!in.predicated) live[in.dst.index] &= uint8_t(~used);
    }
    for (int s = 0; s < in.nsrc && s < 4; ++s) read(in.src[s]);
    if (in.op >= D3DSIO_M4x4 && in.op <= D3DSIO_M3x2 && in.nsrc >= 2) {
      // The matrix operand names its first row; the macro reads up to four.
      for (int r = 1; r < 4; ++r) {
        Param row = in.src[1];
        row.index = uint16_t(row.index + r);
        read(row);
      }
    }
    if (in.predicated) read(in.pred);
    out.push_back(in);
  }
  std::reverse(out.begin(), out.end());
  return out;
}

bool Translator::Run(std::string* why) {
  why_ = why;
  for (int16_t& c : const_channel_) c = -1;
  Describe();
  const std::vector<Instruction> code = NarrowDeadWrites(c_.code);
  out_->ops.reserve(code.size() + 8);
  for (const Instruction& in : code) {
    const Param* src = in.src;
    switch (in.op) {
      case D3DSIO_NOP:
        break;
      case D3DSIO_MOV:
        ComponentWise(in, kKMov, 1);
        break;
      case D3DSIO_ADD:
        ComponentWise(in, kKAdd, 2);
        break;
      case D3DSIO_SUB:
        ComponentWise(in, kKSub, 2);
        break;
      case D3DSIO_MUL:
        ComponentWise(in, kKMul, 2);
        break;
      case D3DSIO_MAD:
        ComponentWise(in, kKMad, 3);
        break;
      case D3DSIO_MIN:
        ComponentWise(in, kKMin, 2);
        break;
      case D3DSIO_MAX:
        ComponentWise(in, kKMax, 2);
        break;
      case D3DSIO_SLT:
        ComponentWise(in, kKSlt, 2);
        break;
      case D3DSIO_SGE:
        ComponentWise(in, kKSge, 2);
        break;
      case D3DSIO_FRC:
        ComponentWise(in, kKFrc, 1);
        break;
      case D3DSIO_ABS:
        ComponentWise(in, kKAbs, 1);
        break;
      case D3DSIO_SGN:
        ComponentWise(in, kKSgn, 1);
        break;
      case D3DSIO_LRP:
        ComponentWise(in, kKLrp, 3);
        break;
      case D3DSIO_CMP:
        ComponentWise(in, kKCmp, 3);
        break;
      case D3DSIO_DSX:
        ComponentWise(in, kKDsx, 1);
        break;
      case D3DSIO_DSY:
        ComponentWise(in, kKDsy, 1);
        break;
      case D3DSIO_MOVA:
        ComponentWise(in, kKMova, 1);
        break;
      case D3DSIO_SETP: {
        ComponentWise(in, kKSetp, 2);
        out_->ops.back().sub = in.control;
        break;
      }
      case D3DSIO_RCP:
        Scalar(in, kKRcp, 1);
        break;
      case D3DSIO_RSQ:
        Scalar(in, kKRsq, 1);
        break;
      case D3DSIO_EXP:
      case D3DSIO_EXPP:
        Scalar(in, kKExp, 1);
        break;
      case D3DSIO_LOG:
      case D3DSIO_LOGP:
        Scalar(in, kKLog, 1);
        break;
      case D3DSIO_POW:
        Scalar(in, kKPow, 2);
        break;
      case D3DSIO_DP2ADD:
        Scalar(in, kKDp2add, 3);
        break;
      case D3DSIO_DP3:
        Scalar(in, kKDp3, 2);
        break;
      case D3DSIO_DP4:
        Scalar(in, kKDp4, 2);
        break;
      case D3DSIO_SINCOS:
        Scalar(in, kKSincos, 1);
        break;
      case D3DSIO_NRM:
        Vector(in, kKNrm, 1, src);
        break;
      case D3DSIO_CRS:
        Vector(in, kKCrs, 2, src);
        break;
      case D3DSIO_LIT:
        Vector(in, kKLit, 1, src);
        break;
      case D3DSIO_DST:
        Vector(in, kKDst, 2, src);
        break;
      case D3DSIO_M4x4:
      case D3DSIO_M4x3:
      case D3DSIO_M3x4:
      case D3DSIO_M3x3:
      case D3DSIO_M3x2:
        Matrix(in);
        break;
      case D3DSIO_TEX:
      case D3DSIO_TEXLDL:
      case D3DSIO_TEXLDD:
        Texture(in);
        break;
      case D3DSIO_TEXKILL: {
        Param p = in.dst;
        Op& op = Add(k_.k[kKTexkill][0]);
        op.body = op.fn;
        for (int k = 0; k < 3; ++k) {
          if (!(p.mask >> k & 1)) continue;
          op.s[0][op.n] = ChannelOf(p.type, p.index, k);
          op.dc[op.n] = uint8_t(k);
          ++op.n;
        }
        op.flags |= kOpKill;
        if (in.predicated) {  // kill only where the predicate holds
          op.fn = op.masked = RunPredicated;
          op.pred_not = in.pred.mod == 13;
          for (int j = 0; j < op.n; ++j)
            op.pred[j] = uint16_t(kPredBase + SwizzleComponent(in.pred.swizzle, op.dc[j]));
        }
        break;
      }
      default:
        if (!Control(in)) return false;
        break;
    }
  }
  for (size_t at : calls_) {
    Op& op = out_->ops[at];
    bool found = false;
    for (auto& [label, pos] : labels_)
      if (label == op.a) op.a = int32_t(pos), found = true;
    if (!found) {
      *why = "call of an undefined label";
      return false;
    }
  }
  Fuse();
  Add(CtlEnd);
  // Where a run whose lanes are all inactive resumes.
  uint32_t next = uint32_t(out_->ops.size() - 1);
  for (size_t i = out_->ops.size(); i-- > 0;) {
    if (IsControl(out_->ops[i].fn)) next = uint32_t(i);
    out_->ops[i].next_ctrl = next;
  }
  return true;
}

}  // namespace

bool Translate(const Code& code, const KernelTable& kernels, Compiled* out, std::string* why) {
  Translator t(code, kernels, out);
  return t.Run(why);
}

}  // namespace vexa::sm
