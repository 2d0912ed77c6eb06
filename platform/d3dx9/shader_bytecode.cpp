// Encoding and validation of compiled texture-shader programs.
#include "d3dx9/shader_bytecode.h"

#include <cstring>

namespace vexa::shader {

int OpSources(uint8_t op) {
  if (op <= kBnot) return 1;
  if (op <= kShr) return 2;
  if (op <= kMad) return 3;
  switch (op) {
    case kDot:
    case kDist:
    case kCross:
      return 2;
    case kLen:
    case kNoise:
    case kAny:
    case kAll:
    case kJz:
    case kJnz:
      return 1;
    default:
      return 0;
  }
}

namespace {

void PutInstr(std::vector<uint32_t>& out, const Instr& in) {
  out.push_back(uint32_t(in.op) | (uint32_t(in.mask & 15) << 8) | (uint32_t(in.aux & 15) << 12) |
                (uint32_t(in.dst) << 16));
  out.push_back(uint32_t(in.src[0]) | (uint32_t(in.src[1]) << 16));
  out.push_back(uint32_t(in.src[2]) | (uint32_t(in.swz[0]) << 16) | (uint32_t(in.swz[1]) << 24));
  out.push_back(uint32_t(in.swz[2]) | (uint32_t(in.target) << 16));
}

bool CheckInstr(const uint32_t* w, uint32_t section_len, const Program& p, Instr* out,
                std::string* why) {
  Instr in;
  in.op = uint8_t(w[0] & 0xFF);
  in.mask = uint8_t((w[0] >> 8) & 15);
  in.aux = uint8_t((w[0] >> 12) & 15);
  in.dst = uint16_t(w[0] >> 16);
  in.src[0] = uint16_t(w[1] & 0xFFFF);
  in.src[1] = uint16_t(w[1] >> 16);
  in.src[2] = uint16_t(w[2] & 0xFFFF);
  in.swz[0] = uint8_t((w[2] >> 16) & 0xFF);
  in.swz[1] = uint8_t(w[2] >> 24);
  in.swz[2] = uint8_t(w[3] & 0xFF);
  in.target = uint16_t(w[3] >> 16);
  if (in.op >= kOpCount) return *why = "unknown opcode", false;
  if ((w[3] & 0xFF00) != 0) return *why = "reserved bits set", false;
  const int nsrc = OpSources(in.op);
  for (int i = 0; i < 3; ++i) {
    if (i < nsrc) {
      uint16_t s = in.src[i];
      if (s & kConstFlag) {
        if (uint32_t(s & ~kConstFlag) >= p.consts.size() / 4) return *why = "bad constant", false;
      } else if (s >= p.num_regs) {
        return *why = "bad source register", false;
      }
    } else if (in.src[i] != 0 || in.swz[i] != 0) {
      return *why = "unused source not zero", false;
    }
  }
  const bool jump = in.op == kJmp || in.op == kJz || in.op == kJnz;
  if (jump) {
    if (in.mask != 0 || in.dst != 0 || in.aux != 0) return *why = "bad jump fields", false;
    if (in.target > section_len) return *why = "jump target out of range", false;
  } else {
    if (in.target != 0) return *why = "target on a non-jump", false;
    if (in.mask == 0) return *why = "empty write mask", false;
    if (in.dst >= p.num_regs) return *why = "bad destination register", false;
    switch (in.op) {
      case kDot:
      case kLen:
      case kDist:
      case kAny:
      case kAll:
        if (in.aux < 1 || in.aux > 4) return *why = "bad component count", false;
        break;
      case kNoise:
        if (in.aux < 1 || in.aux > 3) return *why = "bad noise dimension", false;
        break;
      case kCross:
        if (in.mask != 7 || in.aux != 0) return *why = "bad cross", false;
        break;
      default:
        if (in.aux != 0) return *why = "aux on a plain operation", false;
    }
  }
  *out = in;
  return true;
}

}  // namespace

std::vector<uint32_t> Encode(const Program& p) {
  std::vector<uint32_t> out;
  const uint32_t nconst = uint32_t(p.consts.size() / 4);
  const uint32_t total = kHeaderDwords + nconst * 4 + uint32_t(p.init.size() + p.main.size()) * 4;
  out.reserve(total);
  out.insert(out.end(),
             {kMagic, kVersion, total, p.num_regs, nconst, uint32_t(p.init.size()),
              uint32_t(p.main.size()), p.pos_reg, p.psize_reg, p.result_reg, p.num_globals});
  for (float f : p.consts) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    out.push_back(bits);
  }
  for (const Instr& in : p.init) PutInstr(out, in);
  for (const Instr& in : p.main) PutInstr(out, in);
  return out;
}

size_t ClaimedSize(const uint32_t* h) {
  if (!h || h[0] != kMagic || h[1] != kVersion) return 0;
  if (h[2] < kHeaderDwords || h[2] > kHeaderDwords + 4 * (kMaxConstants + 2 * kMaxInstructions))
    return 0;
  return size_t(h[2]) * 4;
}

bool Decode(const void* data, size_t size, Program* out, std::string* why) {
  if (!data || size < kHeaderDwords * 4) return *why = "too short", false;
  std::vector<uint32_t> w(size / 4);
  std::memcpy(w.data(), data, w.size() * 4);  // w holds at least the header
  if (w[0] != kMagic) return *why = "bad magic", false;
  if (w[1] != kVersion) return *why = "bad version", false;
  const uint32_t total = w[2], nregs = w[3], nconst = w[4], ninit = w[5], nmain = w[6];
  if (nregs == 0 || nregs > kMaxRegisters) return *why = "bad register count", false;
  if (nconst > kMaxConstants) return *why = "bad constant count", false;
  if (ninit > kMaxInstructions || nmain > kMaxInstructions) return *why = "too long", false;
  if (uint64_t(total) != kHeaderDwords + 4ull * nconst + 4ull * (uint64_t(ninit) + nmain))
    return *why = "size mismatch", false;
  if (uint64_t(total) * 4 > size) return *why = "truncated", false;
  Program p;
  p.num_regs = nregs;
  p.pos_reg = w[7];
  p.psize_reg = w[8];
  p.result_reg = w[9];
  p.num_globals = w[10];
  if (p.pos_reg != kNoRegister && p.pos_reg >= nregs) return *why = "bad POSITION", false;
  if (p.psize_reg != kNoRegister && p.psize_reg >= nregs) return *why = "bad PSIZE", false;
  if (p.result_reg >= nregs) return *why = "bad result register", false;
  if (p.num_globals > nregs) return *why = "bad global count", false;
  size_t at = kHeaderDwords;
  p.consts.resize(size_t(nconst) * 4);
  for (size_t k = 0; k < p.consts.size(); ++k) std::memcpy(&p.consts[k], &w[at + k], 4);
  at += p.consts.size();
  p.init.resize(ninit);
  p.main.resize(nmain);
  for (uint32_t i = 0; i < ninit; ++i, at += 4)
    if (!CheckInstr(&w[at], ninit, p, &p.init[i], why)) return false;
  for (uint32_t i = 0; i < nmain; ++i, at += 4)
    if (!CheckInstr(&w[at], nmain, p, &p.main[i], why)) return false;
  *out = std::move(p);
  return true;
}

}  // namespace vexa::shader
