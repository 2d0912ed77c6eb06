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
  std::vector<uint32_t> table;
  for (const Program::Uniform& u : p.uniforms) {
    table.push_back(u.reg);
    table.push_back(uint32_t(u.base) | (uint32_t(u.dim) << 8));
    table.push_back(uint32_t(u.name.size()));
    for (size_t i = 0; i < u.name.size(); i += 4) {
      uint32_t word = 0;
      for (size_t k = 0; k < 4 && i + k < u.name.size(); ++k)
        word |= uint32_t(uint8_t(u.name[i + k])) << (8 * k);
      table.push_back(word);
    }
  }
  std::vector<uint32_t> out;
  const uint32_t nconst = uint32_t(p.consts.size() / 4);
  const uint32_t total = kHeaderDwords + nconst * 4 + uint32_t(p.init.size() + p.main.size()) * 4 +
                         uint32_t(table.size());
  out.reserve(total);
  out.insert(out.end(), {kMagic, kVersion, total, p.num_regs, nconst, uint32_t(p.init.size()),
                         uint32_t(p.main.size()), p.pos_reg, p.psize_reg, p.result_reg,
                         p.num_globals, uint32_t(table.size())});
  for (float f : p.consts) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    out.push_back(bits);
  }
  for (const Instr& in : p.init) PutInstr(out, in);
  for (const Instr& in : p.main) PutInstr(out, in);
  out.insert(out.end(), table.begin(), table.end());
  return out;
}

size_t ClaimedSize(const uint32_t* h) {
  if (!h || h[0] != kMagic || h[1] != kVersion) return 0;
  const uint64_t most = kHeaderDwords + 4ull * (kMaxConstants + 2 * kMaxInstructions) +
                        uint64_t(kMaxUniforms) * (3 + (kMaxUniformName + 3) / 4);
  if (h[2] < kHeaderDwords || h[2] > most) return 0;
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
  const uint32_t ntable = w[11];
  if (uint64_t(total) !=
      kHeaderDwords + 4ull * nconst + 4ull * (uint64_t(ninit) + nmain) + uint64_t(ntable))
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
  const size_t table_end = at + ntable;
  while (at < table_end) {
    if (table_end - at < 3) return *why = "truncated uniform", false;
    Program::Uniform u;
    u.reg = w[at];
    const uint32_t type = w[at + 1], len = w[at + 2];
    at += 3;
    u.base = uint8_t(type & 0xFF);
    u.dim = uint8_t((type >> 8) & 0xFF);
    if ((type >> 16) != 0 || u.base < 1 || u.base > 3 || u.dim < 1 || u.dim > 4)
      return *why = "bad uniform type", false;
    if (u.reg >= p.num_globals) return *why = "bad uniform register", false;
    if (len == 0 || len > kMaxUniformName || (len + 3) / 4 > table_end - at)
      return *why = "bad uniform name", false;
    for (uint32_t i = 0; i < (len + 3) / 4 * 4; ++i) {
      const char ch = char((w[at + i / 4] >> (8 * (i % 4))) & 0xFF);
      const bool alpha = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_';
      const bool digit = ch >= '0' && ch <= '9';
      if (i < len ? !(alpha || (digit && i > 0)) : ch != 0) return *why = "bad uniform name", false;
      if (i < len) u.name += ch;
    }
    at += (len + 3) / 4;
    for (const Program::Uniform& o : p.uniforms)
      if (o.name == u.name || o.reg == u.reg) return *why = "duplicate uniform", false;
    if (p.uniforms.size() >= kMaxUniforms) return *why = "too many uniforms", false;
    p.uniforms.push_back(std::move(u));
  }
  *out = std::move(p);
  return true;
}

}  // namespace vexa::shader
