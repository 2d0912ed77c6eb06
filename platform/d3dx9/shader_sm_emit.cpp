// The last steps of a vertex or pixel shader compile: dead code removal, folding moves into the
// instructions that computed their values, register allocation of the virtual temporaries, the
// model's limits, and the token stream with its constant table.
#include <algorithm>
#include <cstring>

#include "d3dx9/shader_sm.h"
#include "d3dx9shader.h"

namespace vexa::shader::sm {

namespace {

inline int SwzComp(uint8_t swz, int i) {
  return (swz >> (2 * i)) & 3;
}

// Instructions whose destination must differ from their sources (macros).
bool EarlyClobber(uint16_t op) {
  switch (op) {
    case D3DSIO_NRM:
    case D3DSIO_SINCOS:
    case D3DSIO_POW:
    case D3DSIO_LRP:
    case D3DSIO_CRS:
    case D3DSIO_FRC:
    case D3DSIO_TEX:
    case D3DSIO_TEXLDL:
    case D3DSIO_TEXLDD:
      return true;
    default:
      return false;
  }
}

// Component-wise instructions: destination component c reads source component swizzle[c].
bool ComponentWise(uint16_t op) {
  switch (op) {
    case D3DSIO_MOV:
    case D3DSIO_ADD:
    case D3DSIO_MUL:
    case D3DSIO_MAD:
    case D3DSIO_MIN:
    case D3DSIO_MAX:
    case D3DSIO_SLT:
    case D3DSIO_SGE:
    case D3DSIO_ABS:
    case D3DSIO_CMP:
    case D3DSIO_DSX:
    case D3DSIO_DSY:
      return true;
    default:
      return false;
  }
}

// Instructions that write one value to every component of their mask.
bool Broadcasting(uint16_t op) {
  switch (op) {
    case D3DSIO_DP3:
    case D3DSIO_DP4:
    case D3DSIO_DP2ADD:
    case D3DSIO_RCP:
    case D3DSIO_RSQ:
    case D3DSIO_EXP:
    case D3DSIO_LOG:
      return true;
    default:
      return false;
  }
}

// Removes instructions whose results nobody reads.
void RemoveDeadCode(Program& p) {
  for (;;) {
    std::vector<uint32_t> reads(p.vregs, 0);
    for (const Ins& in : p.code) {
      for (int i = 0; i < in.nsrc; ++i)
        if (in.src[i].type == kVTemp) ++reads[in.src[i].index];
      if (in.op == D3DSIO_TEXKILL && in.dst.type == kVTemp) ++reads[in.dst.index];
    }
    size_t out = 0;
    bool removed = false;
    for (size_t i = 0; i < p.code.size(); ++i) {
      const Ins& in = p.code[i];
      const bool dead = in.has_dst && in.op != D3DSIO_TEXKILL && in.dst.type == kVTemp &&
                        reads[in.dst.index] == 0;
      if (dead) {
        removed = true;
        continue;
      }
      p.code[out++] = in;
    }
    p.code.resize(out);
    if (!removed) return;
  }
}

bool IsFlowControl(uint16_t op) {
  switch (op) {
    case D3DSIO_IF:
    case D3DSIO_IFC:
    case D3DSIO_ELSE:
    case D3DSIO_ENDIF:
    case D3DSIO_REP:
    case D3DSIO_ENDREP:
    case D3DSIO_LOOP:
    case D3DSIO_ENDLOOP:
    case D3DSIO_BREAK:
    case D3DSIO_BREAKC:
    case D3DSIO_BREAKP:
      return true;
    default:
      return false;
  }
}

bool SameRegister(const Opnd& a, const Opnd& b) {
  return a.type == b.type && a.index == b.index;
}

// Components of `reg` an instruction reads.
uint8_t ReadsOf(const Ins& in, const Opnd& reg) {
  uint8_t m = 0;
  for (int i = 0; i < in.nsrc; ++i) {
    if (!SameRegister(in.src[i], reg)) continue;
    for (int c = 0; c < 4; ++c) m |= uint8_t(1 << SwzComp(in.src[i].swz, c));
  }
  if (in.op == D3DSIO_TEXKILL && SameRegister(in.dst, reg)) m |= 0xF;
  return m;
}
uint8_t WritesOf(const Ins& in, const Opnd& reg) {
  return in.has_dst && in.op != D3DSIO_TEXKILL && SameRegister(in.dst, reg) ? in.mask : 0;
}

bool LegalPs20(Ins& r) {
  static const uint8_t allowed[] = {0xE4, 0x00, 0x55, 0xAA, 0xFF, 0xC9, 0xD2, 0x1B};
  for (int s = 0; s < r.nsrc; ++s) {
    bool any = false;
    for (uint8_t a : allowed) {
      bool match = true;
      for (int c = 0; c < 4; ++c)
        if ((r.mask >> c & 1) && SwzComp(a, c) != SwzComp(r.src[s].swz, c)) match = false;
      if (match) {
        r.src[s].swz = a;
        any = true;
        break;
      }
    }
    if (!any) return false;
  }
  return true;
}

// Makes the instructions computing t write x directly when "mov x, t" is t's only use: the
// moves that assemble vectors, assign variables and write outputs mostly disappear.
bool FoldMoves(Program& p) {
  const bool vs2 = p.target.vs && p.target.major == 2;
  const bool ps20 = !p.target.vs && p.target.major == 2;
  std::vector<uint32_t> reads(p.vregs, 0);
  std::vector<std::vector<int>> writers(p.vregs);
  for (size_t i = 0; i < p.code.size(); ++i) {
    const Ins& in = p.code[i];
    for (int s = 0; s < in.nsrc; ++s)
      if (in.src[s].type == kVTemp) ++reads[in.src[s].index];
    if (in.op == D3DSIO_TEXKILL && in.dst.type == kVTemp) ++reads[in.dst.index];
    if (in.has_dst && in.op != D3DSIO_TEXKILL && in.dst.type == kVTemp)
      writers[in.dst.index].push_back(int(i));
  }
  std::vector<bool> removed(p.code.size(), false);
  bool changed = false;
  for (size_t j = 0; j < p.code.size(); ++j) {
    const Ins mov = p.code[j];
    if (mov.op != D3DSIO_MOV || mov.nsrc != 1 || mov.src[0].type != kVTemp || mov.src[0].mod ||
        mov.src[0].rel || mov.dst.type == D3DSPR_ADDR || mov.dst.rel)
      continue;
    const uint32_t t = mov.src[0].index;
    const std::vector<int>& w = writers[t];
    if (reads[t] != 1 || w.empty() || w.back() >= int(j) || int(j) - w.front() > 256) continue;
    bool identity = true;
    for (int c = 0; c < 4; ++c)
      if ((mov.mask >> c & 1) && SwzComp(mov.src[0].swz, c) != c) identity = false;
    // One writer right before the move may also be component-wise and remapped.
    const Ins& only = p.code[size_t(w.front())];
    const bool remap =
        !identity && w.size() == 1 &&
        (Broadcasting(only.op) ||
         (w.front() + 1 == int(j) && (ComponentWise(only.op) || (only.op == D3DSIO_FRC && !vs2))));
    if (!identity && !remap) continue;
    if (remap) {
      bool covered = true;
      for (int c = 0; c < 4; ++c)
        if ((mov.mask >> c & 1) && !(only.mask >> SwzComp(mov.src[0].swz, c) & 1)) covered = false;
      if (!covered) continue;
    }
    bool ok = true;
    for (int k : w) {
      const Ins& in = p.code[size_t(k)];
      const bool arith = ComponentWise(in.op) || Broadcasting(in.op) ||
                         (in.op == D3DSIO_FRC && !vs2) || in.op == D3DSIO_NRM ||
                         in.op == D3DSIO_POW || in.op == D3DSIO_SINCOS || in.op == D3DSIO_LRP ||
                         in.op == D3DSIO_TEX || in.op == D3DSIO_TEXLDL || in.op == D3DSIO_TEXLDD;
      if (!arith || removed[size_t(k)]) ok = false;
      if (identity && (in.mask & ~mov.mask)) ok = false;
      const bool tex = in.op == D3DSIO_TEX || in.op == D3DSIO_TEXLDL || in.op == D3DSIO_TEXLDD;
      if (tex && (mov.dst.type != kVTemp || mov.sat || in.mask != mov.mask)) ok = false;
      if ((in.op == D3DSIO_SINCOS || in.op == D3DSIO_NRM) && mov.dst.type != kVTemp) ok = false;
      if (EarlyClobber(in.op) && ReadsOf(in, mov.dst)) ok = false;
    }
    // Nothing between the first write and the move may touch x, and no flow control.
    for (int k = w.front() + 1; k < int(j) && ok; ++k) {
      const Ins& in = p.code[size_t(k)];
      if (removed[size_t(k)]) continue;
      if (IsFlowControl(in.op)) ok = false;
      const bool is_writer = std::find(w.begin(), w.end(), k) != w.end();
      if (ReadsOf(in, mov.dst) & mov.mask) ok = false;
      if (!is_writer && (WritesOf(in, mov.dst) & mov.mask)) ok = false;
    }
    if (!ok) continue;
    std::vector<Ins> rewritten;
    for (int k : w) {
      Ins r = p.code[size_t(k)];
      r.dst = mov.dst;
      r.sat = r.sat || mov.sat;
      if (remap) {
        r.mask = mov.mask;
        if (!Broadcasting(r.op)) {
          for (int s = 0; s < r.nsrc; ++s) {
            int sw[4];
            for (int c = 0; c < 4; ++c) sw[c] = SwzComp(r.src[s].swz, SwzComp(mov.src[0].swz, c));
            r.src[s].swz = uint8_t(sw[0] | (sw[1] << 2) | (sw[2] << 4) | (sw[3] << 6));
          }
        }
      }
      if (ps20 && ComponentWise(r.op) && !LegalPs20(r)) ok = false;
      rewritten.push_back(r);
    }
    if (!ok) continue;
    for (size_t n = 0; n < w.size(); ++n) p.code[size_t(w[n])] = rewritten[n];
    removed[j] = true;
    changed = true;
    // The rewritten instructions now write x: later folds of x see them as its writers.
    if (mov.dst.type == kVTemp) {
      std::vector<int>& xw = writers[mov.dst.index];
      xw.erase(std::remove(xw.begin(), xw.end(), int(j)), xw.end());
      xw.insert(xw.end(), w.begin(), w.end());
      std::sort(xw.begin(), xw.end());
    }
    writers[t].clear();
  }
  size_t out = 0;
  for (size_t i = 0; i < p.code.size(); ++i)
    if (!removed[i]) p.code[out++] = p.code[i];
  p.code.resize(out);
  return changed;
}

// "mul t, a, b ... add d, t, c", t used there only, becomes "mad d, a, b, c".
bool FuseMad(Program& p) {
  const bool ps20 = !p.target.vs && p.target.major == 2;
  std::vector<uint32_t> reads(p.vregs, 0), writes(p.vregs, 0);
  std::vector<int> writer(p.vregs, -1);
  for (size_t i = 0; i < p.code.size(); ++i) {
    const Ins& in = p.code[i];
    for (int s = 0; s < in.nsrc; ++s)
      if (in.src[s].type == kVTemp) ++reads[in.src[s].index];
    if (in.op == D3DSIO_TEXKILL && in.dst.type == kVTemp) ++reads[in.dst.index];
    if (in.has_dst && in.op != D3DSIO_TEXKILL && in.dst.type == kVTemp) {
      ++writes[in.dst.index];
      writer[in.dst.index] = int(i);
    }
  }
  std::vector<bool> removed(p.code.size(), false);
  bool changed = false;
  for (size_t j = 0; j < p.code.size(); ++j) {
    Ins& add = p.code[j];
    if (add.op != D3DSIO_ADD) continue;
    for (int s = 0; s < 2; ++s) {
      const Opnd& ts = add.src[s];
      if (ts.type != kVTemp || ts.rel || (ts.mod != 0 && ts.mod != 1)) continue;
      const uint32_t t = ts.index;
      if (reads[t] != 1 || writes[t] != 1 || writer[t] < 0 || writer[t] >= int(j)) continue;
      const int i = writer[t];
      const Ins& mul = p.code[size_t(i)];
      if (mul.op != D3DSIO_MUL || mul.sat || removed[size_t(i)]) continue;
      bool ok = true;
      for (int c = 0; c < 4 && ok; ++c)
        if ((add.mask >> c & 1) && !(mul.mask >> SwzComp(ts.swz, c) & 1)) ok = false;
      // The product's inputs must be unchanged where the add reads it.
      for (int k = i + 1; k < int(j) && ok; ++k) {
        const Ins& in = p.code[size_t(k)];
        if (removed[size_t(k)]) continue;
        if (IsFlowControl(in.op)) ok = false;
        for (int q = 0; q < 2 && ok; ++q)
          if (WritesOf(in, mul.src[q]) || (mul.src[q].rel && in.op == D3DSIO_MOVA)) ok = false;
      }
      if (!ok) continue;
      Ins mad = add;
      mad.op = D3DSIO_MAD;
      mad.nsrc = 3;
      for (int q = 0; q < 2; ++q) {
        Opnd o = mul.src[q];
        int sw[4];
        for (int c = 0; c < 4; ++c) sw[c] = SwzComp(o.swz, SwzComp(ts.swz, c));
        o.swz = uint8_t(sw[0] | (sw[1] << 2) | (sw[2] << 4) | (sw[3] << 6));
        if (q == 0 && ts.mod == 1) {
          static const uint8_t flip[] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 11, 13};
          o.mod = flip[o.mod < 14 ? o.mod : 0];
        }
        mad.src[q] = o;
      }
      mad.src[2] = add.src[1 - s];
      // One constant, one input and one texture coordinate register per instruction.
      for (uint8_t file : {uint8_t(D3DSPR_CONST), uint8_t(D3DSPR_INPUT), uint8_t(D3DSPR_TEXTURE)}) {
        int64_t first = -1;
        for (int q = 0; q < 3; ++q) {
          const Opnd& o = mad.src[q];
          if (o.type != file || (file == D3DSPR_TEXTURE && p.target.vs)) continue;
          const int64_t key = int64_t(o.index) | (o.rel ? (int64_t(1) << 40) : 0);
          if (first >= 0 && key != first) ok = false;
          first = key;
        }
      }
      if (ps20 && !LegalPs20(mad)) ok = false;
      if (!ok) continue;
      add = mad;
      removed[size_t(i)] = true;
      changed = true;
      break;
    }
  }
  size_t out = 0;
  for (size_t i = 0; i < p.code.size(); ++i)
    if (!removed[i]) p.code[out++] = p.code[i];
  p.code.resize(out);
  return changed;
}

struct Interval {
  uint32_t vreg;
  int start;
  int end;
};

// Linear-scan allocation of virtual temporaries to r#, aware of loops (values live around the
// back edge stay live through the whole loop).
int Allocate(Program& p) {
  const int n = int(p.code.size());
  std::vector<int> first(p.vregs, -1), last(p.vregs, -1);
  std::vector<uint8_t> first_is_full_write(p.vregs, 0), read_mask(p.vregs, 0);
  auto touch = [&](uint32_t r, int at) {
    if (first[r] < 0) first[r] = at;
    last[r] = std::max(last[r], at);
  };
  for (int i = 0; i < n; ++i) {
    const Ins& in = p.code[size_t(i)];
    const int src_at = EarlyClobber(in.op) ? i + 1 : i;
    for (int s = 0; s < in.nsrc; ++s) {
      if (in.src[s].type != kVTemp) continue;
      const uint32_t r = in.src[s].index;
      if (first[r] < 0) first[r] = i;
      last[r] = std::max(last[r], std::min(src_at, n));
      for (int c = 0; c < 4; ++c) read_mask[r] |= uint8_t(1 << SwzComp(in.src[s].swz, c));
    }
    if (in.has_dst && in.dst.type == kVTemp) {
      const uint32_t r = in.dst.index;
      if (first[r] < 0) {
        first[r] = i;
        first_is_full_write[r] = in.op != D3DSIO_TEXKILL ? in.mask : 0;
      }
      touch(r, i);
    }
  }
  // Loops: a value read in a loop before it is written there, or live into it, lives through it.
  std::vector<std::pair<int, int>> loops;
  std::vector<int> open;
  for (int i = 0; i < n; ++i) {
    const uint16_t op = p.code[size_t(i)].op;
    if (op == D3DSIO_REP || op == D3DSIO_LOOP) open.push_back(i);
    if ((op == D3DSIO_ENDREP || op == D3DSIO_ENDLOOP) && !open.empty()) {
      loops.push_back({open.back(), i});
      open.pop_back();
    }
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (auto [ls, le] : loops) {
      for (uint32_t r = 0; r < p.vregs; ++r) {
        if (first[r] < 0 || last[r] < ls || first[r] > le) continue;
        const bool defined_inside =
            first[r] > ls && (first_is_full_write[r] & read_mask[r]) == read_mask[r];
        int s = first[r], e = last[r];
        if (first[r] < ls) e = std::max(e, le);
        if (!defined_inside) {
          s = std::min(s, ls);
          e = std::max(e, le);
        }
        if (s != first[r] || e != last[r]) {
          first[r] = s;
          last[r] = e;
          changed = true;
        }
      }
    }
  }
  std::vector<Interval> iv;
  for (uint32_t r = 0; r < p.vregs; ++r)
    if (first[r] >= 0) iv.push_back({r, first[r], last[r]});
  std::sort(iv.begin(), iv.end(), [](const Interval& a, const Interval& b) {
    return a.start != b.start ? a.start < b.start : a.vreg < b.vreg;
  });
  std::vector<int> phys(p.vregs, -1);
  std::vector<int> free_at(256, -1);  // per physical register: the end of its current interval
  int used = 0;
  for (const Interval& v : iv) {
    int pick = -1;
    for (int r = 0; r < used; ++r) {
      if (free_at[size_t(r)] < v.start) {
        pick = r;
        break;
      }
    }
    if (pick < 0) {
      if (used >= 256) return 1 << 20;
      pick = used++;
    }
    free_at[size_t(pick)] = v.end;
    phys[v.vreg] = pick;
  }
  for (Ins& in : p.code) {
    if (in.has_dst && in.dst.type == kVTemp) {
      in.dst.type = D3DSPR_TEMP;
      in.dst.index = uint32_t(phys[in.dst.index]);
    }
    for (int s = 0; s < in.nsrc; ++s) {
      if (in.src[s].type != kVTemp) continue;
      in.src[s].type = D3DSPR_TEMP;
      in.src[s].index = uint32_t(phys[in.src[s].index]);
    }
  }
  return used;
}

// Instruction slots an instruction takes (texture: the ps_2_0 texture slots).
int Slots(const Ins& in, const Target& t, bool* texture) {
  *texture = in.op == D3DSIO_TEX || in.op == D3DSIO_TEXKILL || in.op == D3DSIO_TEXLDL ||
             in.op == D3DSIO_TEXLDD;
  switch (in.op) {
    case D3DSIO_NRM:
      return 3;
    case D3DSIO_SINCOS:
      return t.major >= 3 ? (t.vs ? 6 : 8) : 8;
    case D3DSIO_POW:
      return 3;
    case D3DSIO_LRP:
      return t.vs ? 2 : 1;
    case D3DSIO_CRS:
      return 2;
    case D3DSIO_FRC:
      return t.vs && t.major == 2 ? 3 : 1;
    default:
      return 1;
  }
}

uint32_t RegBits(uint32_t type) {
  return ((type << D3DSP_REGTYPE_SHIFT) & D3DSP_REGTYPE_MASK) |
         ((type << D3DSP_REGTYPE_SHIFT2) & D3DSP_REGTYPE_MASK2);
}

void PutDst(std::vector<uint32_t>& t, const Opnd& d, uint8_t mask, bool sat) {
  t.push_back(0x80000000u | RegBits(d.type) | (d.index & D3DSP_REGNUM_MASK) |
              (uint32_t(mask & 15) << 16) | (sat ? D3DSPDM_SATURATE : 0));
}
void PutSrc(std::vector<uint32_t>& t, const Opnd& s) {
  t.push_back(0x80000000u | RegBits(s.type) | (s.index & D3DSP_REGNUM_MASK) |
              (uint32_t(s.swz) << D3DSP_SWIZZLE_SHIFT) | (uint32_t(s.mod) << D3DSP_SRCMOD_SHIFT) |
              (s.rel ? D3DSHADER_ADDRMODE_RELATIVE : 0));
  if (s.rel)
    t.push_back(0x80000000u | RegBits(s.rel_type) |
                (uint32_t(s.rel_comp * 0x55) << D3DSP_SWIZZLE_SHIFT));
}

// The constant table: D3DXSHADER_CONSTANTTABLE, then its arrays and strings, offsets counted from
// the table's first byte.
class CtabWriter {
 public:
  std::vector<uint8_t> bytes;

  uint32_t Here() const { return uint32_t(bytes.size()); }
  void Align() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  uint32_t Reserve(size_t n) {
    Align();
    const uint32_t at = Here();
    bytes.resize(bytes.size() + n, 0);
    return at;
  }
  void Put16(uint32_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
  void Put32(uint32_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }
  uint32_t String(const std::string& s) {
    Align();
    const uint32_t at = Here();
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
    return at;
  }
  uint32_t Type(const CtabType& t) {
    const uint32_t at = Reserve(16);
    Put16(at + 0, t.cls);
    Put16(at + 2, t.type);
    Put16(at + 4, t.rows);
    Put16(at + 6, t.columns);
    Put16(at + 8, t.elements);
    Put16(at + 10, uint16_t(t.member_names.size()));
    if (!t.member_names.empty()) {
      const uint32_t members = Reserve(8 * t.member_names.size());
      Put32(at + 12, members);
      for (size_t i = 0; i < t.member_names.size(); ++i) {
        const uint32_t name = String(t.member_names[i]);
        const uint32_t type = Type(t.member_types[i]);
        Put32(members + uint32_t(8 * i), name);
        Put32(members + uint32_t(8 * i) + 4, type);
      }
    }
    return at;
  }
};

std::vector<uint32_t> ConstantTable(const Program& p, DWORD version) {
  std::vector<CtabConstant> cs = p.constants;
  std::sort(cs.begin(), cs.end(),
            [](const CtabConstant& a, const CtabConstant& b) { return a.name < b.name; });
  CtabWriter w;
  w.Reserve(28);
  const uint32_t infos = w.Reserve(20 * cs.size());
  for (size_t i = 0; i < cs.size(); ++i) {
    const CtabConstant& c = cs[i];
    const uint32_t at = infos + uint32_t(20 * i);
    const uint32_t name = w.String(c.name);
    const uint32_t type = w.Type(c.type);
    uint32_t def = 0;
    if (!c.defaults.empty()) {
      def = w.Reserve(c.defaults.size() * 4);
      std::memcpy(&w.bytes[def], c.defaults.data(), c.defaults.size() * 4);
    }
    w.Put32(at, name);
    w.Put16(at + 4, c.regset);
    w.Put16(at + 6, c.index);
    w.Put16(at + 8, c.count);
    w.Put32(at + 12, type);
    w.Put32(at + 16, def);
  }
  const uint32_t target = w.String(p.target.name);
  const uint32_t creator = w.String("Vexa HLSL compiler");
  w.Align();
  w.Put32(0, 28);
  w.Put32(4, creator);
  w.Put32(8, version);
  w.Put32(12, uint32_t(cs.size()));
  w.Put32(16, cs.empty() ? 0 : infos);
  w.Put32(20, p.flags);
  w.Put32(24, target);
  std::vector<uint32_t> out(w.bytes.size() / 4);
  std::memcpy(out.data(), w.bytes.data(), w.bytes.size());
  return out;
}

}  // namespace

std::vector<uint32_t> Finish(Program& p) {
  const Target& tg = p.target;
  RemoveDeadCode(p);
  for (int pass = 0; pass < 8 && FoldMoves(p); ++pass) RemoveDeadCode(p);
  FuseMad(p);
  for (int pass = 0; pass < 8 && FoldMoves(p); ++pass) RemoveDeadCode(p);
  const int temps = Allocate(p);
  if (temps > tg.temps)
    throw CompileError{0, 0, "X5608",
                       "the shader needs " + std::to_string(temps) + " temporary registers; " +
                           tg.name + " has " + std::to_string(tg.temps)};
  int arith = 0, tex = 0;
  for (const Ins& in : p.code) {
    bool t = false;
    const int s = Slots(in, tg, &t);
    ((t && tg.texture_slots) ? tex : arith) += s;
  }
  if (arith > tg.slots)
    throw CompileError{0, 0, "X5608",
                       "compiled shader code uses too many " +
                           std::string(tg.texture_slots ? "arithmetic " : "") +
                           "instruction slots (" + std::to_string(arith) + "); " + tg.name +
                           " allows " + std::to_string(tg.slots)};
  if (tg.texture_slots && tex > tg.texture_slots)
    throw CompileError{0, 0, "X5609",
                       "compiled shader code uses too many texture instruction slots (" +
                           std::to_string(tex) + "); " + tg.name + " allows " +
                           std::to_string(tg.texture_slots)};
  const DWORD version =
      (tg.vs ? 0xFFFE0000u : 0xFFFF0000u) | DWORD(tg.major << 8) | DWORD(tg.minor);
  std::vector<uint32_t> t;
  t.push_back(version);
  const std::vector<uint32_t> ctab = ConstantTable(p, version);
  t.push_back(D3DSHADER_COMMENT(uint32_t(ctab.size() + 1)));
  t.push_back(MAKEFOURCC('C', 'T', 'A', 'B'));
  t.insert(t.end(), ctab.begin(), ctab.end());
  // Literal registers that code still reads.
  std::vector<bool> read(size_t(tg.consts), false);
  for (const Ins& in : p.code)
    for (int s = 0; s < in.nsrc; ++s)
      if (in.src[s].type == D3DSPR_CONST && !in.src[s].rel && in.src[s].index < read.size())
        read[in.src[s].index] = true;
  for (const LiteralReg& l : p.literals) {
    if (!read[l.reg]) continue;
    t.push_back(D3DSIO_DEF | (5u << D3DSI_INSTLENGTH_SHIFT));
    PutDst(t, Opnd{D3DSPR_CONST, l.reg}, 0xF, false);
    for (int c = 0; c < 4; ++c) {
      uint32_t b;
      std::memcpy(&b, &l.v[c], 4);
      t.push_back(b);
    }
  }
  for (auto [reg, count] : p.int_defs) {
    t.push_back(D3DSIO_DEFI | (5u << D3DSI_INSTLENGTH_SHIFT));
    PutDst(t, Opnd{D3DSPR_CONSTINT, reg}, 0xF, false);
    t.insert(t.end(), {uint32_t(count), 0u, 0u, 0u});
  }
  for (const Decl& d : p.decls) {
    t.push_back(D3DSIO_DCL | (2u << D3DSI_INSTLENGTH_SHIFT));
    uint32_t usage = 0x80000000u;
    if (d.type == D3DSPR_SAMPLER)
      usage |= d.texture_type;
    else if (d.type != D3DSPR_MISCTYPE && (tg.vs || tg.major >= 3))
      usage |= d.usage | (uint32_t(d.usage_index) << D3DSP_DCL_USAGEINDEX_SHIFT);
    t.push_back(usage);
    PutDst(t, Opnd{d.type, d.index}, d.mask, false);
  }
  for (const Ins& in : p.code) {
    uint32_t len = (in.has_dst ? 1 : 0);
    for (int s = 0; s < in.nsrc; ++s) len += in.src[s].rel ? 2 : 1;
    t.push_back(in.op | (uint32_t(in.ctrl) << 16) | (len << D3DSI_INSTLENGTH_SHIFT));
    if (in.has_dst) PutDst(t, in.dst, in.mask, in.sat);
    for (int s = 0; s < in.nsrc; ++s) PutSrc(t, in.src[s]);
  }
  t.push_back(D3DPS_END());
  return t;
}

}  // namespace vexa::shader::sm
