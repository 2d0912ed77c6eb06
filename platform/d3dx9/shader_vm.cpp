// Register-machine interpreter: one switch per instruction, no allocation per texel.
#include "d3dx9/shader_vm.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace vexa::shader {

namespace {

inline int32_t ToInt(float f) {
  if (!(f == f)) return 0;
  if (f >= 2147483647.f) return INT32_MAX;
  if (f <= -2147483648.f) return INT32_MIN;
  return int32_t(f);
}
inline float Sat(float x) { return x > 0.f ? (x < 1.f ? x : 1.f) : 0.f; }

}  // namespace

Machine::Machine(const Program& p)
    : num_regs_(p.num_regs),
      pos_reg_(p.pos_reg),
      psize_reg_(p.psize_reg),
      result_reg_(p.result_reg),
      num_globals_(p.num_globals) {
  regs_.assign((size_t(num_regs_) + p.consts.size() / 4) * 4, 0.f);
  std::memcpy(regs_.data() + size_t(num_regs_) * 4, p.consts.data(), p.consts.size() * 4);
  init_ = Prepare(p.init);
  main_ = Prepare(p.main);
  globals_.assign(size_t(num_globals_) * 4, 0.f);
}

std::vector<Machine::DInstr> Machine::Prepare(const std::vector<Instr>& code) const {
  std::vector<DInstr> out(code.size());
  for (size_t i = 0; i < code.size(); ++i) {
    const Instr& in = code[i];
    DInstr& d = out[i];
    d.op = in.op;
    d.mask = in.mask;
    d.aux = in.aux;
    d.dst = in.dst;
    d.target = in.target;
    for (int s = 0; s < 3; ++s) {
      d.src[s] = (in.src[s] & kConstFlag) ? uint16_t(num_regs_ + (in.src[s] & ~kConstFlag))
                                           : in.src[s];
      for (int c = 0; c < 4; ++c) d.sw[s][c] = uint8_t((in.swz[s] >> (2 * c)) & 3);
    }
  }
  return out;
}

bool Machine::Init() {
  std::fill(regs_.begin(), regs_.begin() + size_t(num_regs_) * 4, 0.f);
  int64_t budget = kTexelBudget;
  if (!Run(init_, &budget)) return false;
  std::memcpy(globals_.data(), regs_.data(), globals_.size() * 4);
  return true;
}

void Machine::SetGlobals(const std::vector<float>& values) {
  if (values.size() == globals_.size()) globals_ = values;
}

bool Machine::Texel(float px, float py, float sx, float sy, float out[4], int64_t* fill_budget) {
  float* r = regs_.data();
  std::memcpy(r, globals_.data(), globals_.size() * 4);
  if (pos_reg_ != kNoRegister) {
    float* p = r + size_t(pos_reg_) * 4;
    p[0] = px, p[1] = py, p[2] = 0.f, p[3] = 0.f;
  }
  if (psize_reg_ != kNoRegister) {
    float* p = r + size_t(psize_reg_) * 4;
    p[0] = sx, p[1] = sy, p[2] = 0.f, p[3] = 0.f;
  }
  if (!Run(main_, fill_budget)) return false;
  std::memcpy(out, r + size_t(result_reg_) * 4, 16);
  return true;
}

bool Machine::Run(const std::vector<DInstr>& code, int64_t* fill_budget) {
  float* const R = regs_.data();
  const size_t n = code.size();
  int64_t budget = kTexelBudget;
  size_t pc = 0;
  while (pc < n) {
    const DInstr& in = code[pc];
    const float* A = R + size_t(in.src[0]) * 4;
    const float* B = R + size_t(in.src[1]) * 4;
    const float* C = R + size_t(in.src[2]) * 4;
    float t[4] = {0, 0, 0, 0};
#define EACH(EXPR)                                 \
  for (int c = 0; c < 4; ++c) {                    \
    if (!((in.mask >> c) & 1)) continue;           \
    const float a = A[in.sw[0][c]];                \
    const float b = B[in.sw[1][c]];                \
    const float k = C[in.sw[2][c]];                \
    (void)b;                                       \
    (void)k;                                       \
    t[c] = (EXPR);                                 \
  }                                                \
  break
    switch (in.op) {
      case kMov: EACH(a);
      case kNeg: EACH(-a);
      case kAbs: EACH(std::fabs(a));
      case kSin: EACH(std::sin(a));
      case kCos: EACH(std::cos(a));
      case kTan: EACH(std::tan(a));
      case kAsin: EACH(std::asin(a));
      case kAcos: EACH(std::acos(a));
      case kAtan: EACH(std::atan(a));
      case kSqrt: EACH(std::sqrt(a));
      case kRsqrt: EACH(1.f / std::sqrt(a));
      case kExp: EACH(std::exp(a));
      case kExp2: EACH(std::exp2(a));
      case kLog: EACH(std::log(a));
      case kLog2: EACH(std::log2(a));
      case kFloor: EACH(std::floor(a));
      case kCeil: EACH(std::ceil(a));
      case kFrac: EACH(a - std::floor(a));
      case kTrunc: EACH(std::trunc(a));
      case kRound: EACH(std::nearbyint(a));
      case kSat: EACH(Sat(a));
      case kSign: EACH(a > 0.f ? 1.f : a < 0.f ? -1.f : 0.f);
      case kNot: EACH(a == 0.f ? 1.f : 0.f);
      case kBool: EACH(a != 0.f ? 1.f : 0.f);
      case kBnot: EACH(float(~ToInt(a)));
      case kAdd: EACH(a + b);
      case kSub: EACH(a - b);
      case kMul: EACH(a * b);
      case kDiv: EACH(a / b);
      case kFmod: EACH(std::fmod(a, b));
      case kIdiv: EACH(std::trunc(a / b));
      case kImod: EACH(std::fmod(std::trunc(a), std::trunc(b)));
      case kAtan2: EACH(std::atan2(a, b));
      case kPow: EACH(std::pow(a, b));
      case kMin: EACH(a < b ? a : b);
      case kMax: EACH(a > b ? a : b);
      case kStep: EACH(b >= a ? 1.f : 0.f);
      case kLt: EACH(a < b ? 1.f : 0.f);
      case kLe: EACH(a <= b ? 1.f : 0.f);
      case kEq: EACH(a == b ? 1.f : 0.f);
      case kNe: EACH(a != b ? 1.f : 0.f);
      case kAnd: EACH((a != 0.f && b != 0.f) ? 1.f : 0.f);
      case kOr: EACH((a != 0.f || b != 0.f) ? 1.f : 0.f);
      case kBand: EACH(float(ToInt(a) & ToInt(b)));
      case kBor: EACH(float(ToInt(a) | ToInt(b)));
      case kBxor: EACH(float(ToInt(a) ^ ToInt(b)));
      case kShl: EACH(float(int32_t(uint32_t(ToInt(a)) << (ToInt(b) & 31))));
      case kShr: EACH(float(ToInt(a) >> (ToInt(b) & 31)));
      case kClamp: EACH((a > b ? a : b) < k ? (a > b ? a : b) : k);
      case kLerp: EACH(a + k * (b - a));
      case kSstep: {
        EACH([](float lo, float hi, float x) {
          float s = Sat((x - lo) / (hi - lo));
          return s * s * (3.f - 2.f * s);
        }(a, b, k));
      }
      case kSel: EACH(a != 0.f ? b : k);
      case kMad: EACH(a * b + k);
      case kDot:
      case kLen:
      case kDist:
      case kAny:
      case kAll: {
        float s = 0.f;
        bool any = false, all = true;
        for (int i = 0; i < in.aux; ++i) {
          float a = A[in.sw[0][i]];
          switch (in.op) {
            case kDot: s += a * B[in.sw[1][i]]; break;
            case kLen: s += a * a; break;
            case kDist: {
              float d = a - B[in.sw[1][i]];
              s += d * d;
              break;
            }
            default:
              any = any || a != 0.f;
              all = all && a != 0.f;
          }
        }
        if (in.op == kLen || in.op == kDist) s = std::sqrt(s);
        if (in.op == kAny) s = any ? 1.f : 0.f;
        if (in.op == kAll) s = all ? 1.f : 0.f;
        t[0] = t[1] = t[2] = t[3] = s;
        break;
      }
      case kNoise: {
        float x = A[in.sw[0][0]], y = A[in.sw[0][1]], z = A[in.sw[0][2]];
        float s = in.aux == 1 ? Noise1(x) : in.aux == 2 ? Noise2(x, y) : Noise3(x, y, z);
        t[0] = t[1] = t[2] = t[3] = s;
        break;
      }
      case kCross: {
        float a0 = A[in.sw[0][0]], a1 = A[in.sw[0][1]], a2 = A[in.sw[0][2]];
        float b0 = B[in.sw[1][0]], b1 = B[in.sw[1][1]], b2 = B[in.sw[1][2]];
        t[0] = a1 * b2 - a2 * b1;
        t[1] = a2 * b0 - a0 * b2;
        t[2] = a0 * b1 - a1 * b0;
        break;
      }
      case kJmp:
      case kJz:
      case kJnz: {
        bool take = in.op == kJmp || ((A[in.sw[0][0]] == 0.f) == (in.op == kJz));
        if (!take) {
          ++pc;
          continue;
        }
        if (in.target <= pc) {
          // Charge the loop body against both budgets, so no loop can run away.
          const int64_t cost = int64_t(pc - in.target) + 1;
          budget -= cost;
          *fill_budget -= cost;
          if (budget < 0 || *fill_budget < 0) return false;
        }
        pc = in.target;
        continue;
      }
      default:
        return false;
    }
#undef EACH
    float* D = R + size_t(in.dst) * 4;
    for (int c = 0; c < 4; ++c)
      if ((in.mask >> c) & 1) D[c] = t[c];
    ++pc;
  }
  return true;
}

}  // namespace vexa::shader
