// Register-machine interpreter: one switch per instruction, no allocation per texel.
#include "d3dx9/shader_vm.h"

#include <algorithm>
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
inline float Sat(float x) {
  return x > 0.f ? (x < 1.f ? x : 1.f) : 0.f;
}
inline float SmoothStep(float lo, float hi, float x) {
  float s = Sat((x - lo) / (hi - lo));
  return s * s * (3.f - 2.f * s);
}

}  // namespace

// Component-wise operations: a, b, k are the swizzled source components.
#define VEXA_SHADER_COMPONENT_OPS(X)                             \
  X(kMov, a)                                                     \
  X(kNeg, -a)                                                    \
  X(kAbs, std::fabs(a))                                          \
  X(kSin, std::sin(a))                                           \
  X(kCos, std::cos(a))                                           \
  X(kTan, std::tan(a))                                           \
  X(kAsin, std::asin(a))                                         \
  X(kAcos, std::acos(a))                                         \
  X(kAtan, std::atan(a))                                         \
  X(kSqrt, std::sqrt(a))                                         \
  X(kRsqrt, 1.f / std::sqrt(a))                                  \
  X(kExp, std::exp(a))                                           \
  X(kExp2, std::exp2(a))                                         \
  X(kLog, std::log(a))                                           \
  X(kLog2, std::log2(a))                                         \
  X(kFloor, std::floor(a))                                       \
  X(kCeil, std::ceil(a))                                         \
  X(kFrac, a - std::floor(a))                                    \
  X(kTrunc, std::trunc(a))                                       \
  X(kRound, std::nearbyint(a))                                   \
  X(kSat, Sat(a))                                                \
  X(kSign, a > 0.f ? 1.f : a < 0.f ? -1.f : 0.f)                 \
  X(kNot, a == 0.f ? 1.f : 0.f)                                  \
  X(kBool, a != 0.f ? 1.f : 0.f)                                 \
  X(kBnot, float(~ToInt(a)))                                     \
  X(kAdd, a + b)                                                 \
  X(kSub, a - b)                                                 \
  X(kMul, a* b)                                                  \
  X(kDiv, a / b)                                                 \
  X(kFmod, std::fmod(a, b))                                      \
  X(kIdiv, std::trunc(a / b))                                    \
  X(kImod, std::fmod(std::trunc(a), std::trunc(b)))              \
  X(kAtan2, std::atan2(a, b))                                    \
  X(kPow, std::pow(a, b))                                        \
  X(kMin, a < b ? a : b)                                         \
  X(kMax, a > b ? a : b)                                         \
  X(kStep, b >= a ? 1.f : 0.f)                                   \
  X(kLt, a < b ? 1.f : 0.f)                                      \
  X(kLe, a <= b ? 1.f : 0.f)                                     \
  X(kEq, a == b ? 1.f : 0.f)                                     \
  X(kNe, a != b ? 1.f : 0.f)                                     \
  X(kAnd, (a != 0.f && b != 0.f) ? 1.f : 0.f)                    \
  X(kOr, (a != 0.f || b != 0.f) ? 1.f : 0.f)                     \
  X(kBand, float(ToInt(a) & ToInt(b)))                           \
  X(kBor, float(ToInt(a) | ToInt(b)))                            \
  X(kBxor, float(ToInt(a) ^ ToInt(b)))                           \
  X(kShl, float(int32_t(uint32_t(ToInt(a)) << (ToInt(b) & 31)))) \
  X(kShr, float(ToInt(a) >> (ToInt(b) & 31)))                    \
  X(kClamp, (a > b ? a : b) < k ? (a > b ? a : b) : k)           \
  X(kLerp, a + k * (b - a))                                      \
  X(kSstep, SmoothStep(a, b, k))                                 \
  X(kSel, a != 0.f ? b : k)                                      \
  X(kMad, a* b + k)

Machine::Machine(const Program& p)
    : num_regs_(p.num_regs),
      pos_reg_(p.pos_reg),
      psize_reg_(p.psize_reg),
      result_reg_(p.result_reg),
      num_globals_(p.num_globals) {
  regs_.assign((size_t(num_regs_) + p.consts.size() / 4) * 4, 0.f);
  std::copy(p.consts.begin(), p.consts.end(), regs_.begin() + size_t(num_regs_) * 4);
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
    d.single = 4;
    for (int c = 0; c < 4; ++c)
      if (in.mask == (1 << c)) d.single = uint8_t(c);
    for (int s = 0; s < 3; ++s) {
      d.src[s] =
          (in.src[s] & kConstFlag) ? uint16_t(num_regs_ + (in.src[s] & ~kConstFlag)) : in.src[s];
      for (int c = 0; c < 4; ++c) d.sw[s][c] = uint8_t((in.swz[s] >> (2 * c)) & 3);
    }
  }
  return out;
}

bool Machine::Init() {
  std::fill(regs_.begin(), regs_.begin() + size_t(num_regs_) * 4, 0.f);
  int64_t budget = kTexelBudget;
  if (!Run(init_, &budget)) return false;
  std::copy(regs_.begin(), regs_.begin() + globals_.size(), globals_.begin());
  return true;
}

void Machine::SetGlobals(const std::vector<float>& values) {
  if (values.size() == globals_.size()) globals_ = values;
}

bool Machine::Texel(float px, float py, float sx, float sy, float out[4], int64_t* fill_budget) {
  float* r = regs_.data();
  std::copy(globals_.begin(), globals_.end(), regs_.begin());
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
    if (in.op < kDot) {
      if (in.single < 4) {
        // One component, the common case of scalar code: no mask loop.
        const int c = in.single;
        const float a = A[in.sw[0][c]], b = B[in.sw[1][c]], k = C[in.sw[2][c]];
        float v = 0.f;
        switch (in.op) {
#define X(OP, EXPR) \
  case OP:          \
    v = (EXPR);     \
    break;
          VEXA_SHADER_COMPONENT_OPS(X)
#undef X
          default:
            return false;
        }
        R[size_t(in.dst) * 4 + c] = v;
        ++pc;
        continue;
      }
      switch (in.op) {
#define X(OP, EXPR)                                                           \
  case OP:                                                                    \
    for (int c = 0; c < 4; ++c) {                                             \
      if (!((in.mask >> c) & 1)) continue;                                    \
      const float a = A[in.sw[0][c]], b = B[in.sw[1][c]], k = C[in.sw[2][c]]; \
      (void)b;                                                                \
      (void)k;                                                                \
      t[c] = (EXPR);                                                          \
    }                                                                         \
    break;
        VEXA_SHADER_COMPONENT_OPS(X)
#undef X
        default:
          return false;
      }
    } else {
      switch (in.op) {
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
              case kDot:
                s += a * B[in.sw[1][i]];
                break;
              case kLen:
                s += a * a;
                break;
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
    }
    float* D = R + size_t(in.dst) * 4;
    for (int c = 0; c < 4; ++c)
      if ((in.mask >> c) & 1) D[c] = t[c];
    ++pc;
  }
  return true;
}

}  // namespace vexa::shader
