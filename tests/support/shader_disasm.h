// A small disassembler of shader model 2 / 3 tokens, for test failure messages and debugging.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d3d9types.h"

namespace shader_disasm {

inline std::string Reg(DWORD tok, bool vs) {
  const DWORD type = ((tok & D3DSP_REGTYPE_MASK) >> D3DSP_REGTYPE_SHIFT) |
                     ((tok & D3DSP_REGTYPE_MASK2) >> D3DSP_REGTYPE_SHIFT2);
  const DWORD n = tok & D3DSP_REGNUM_MASK;
  static const char* const names[] = {"r", "v",  "c",      "a",    "oRast", "oD", "o",
                                      "i", "oC", "oDepth", "s",    "c",     "c",  "c",
                                      "b", "aL", "half",   "misc", "l",     "p"};
  std::string s = type < 20 ? names[type] : "?";
  if (type == D3DSPR_ADDR && !vs) s = "t";
  if (type == D3DSPR_RASTOUT) return n == 0 ? "oPos" : n == 1 ? "oFog" : "oPts";
  if (type == D3DSPR_MISCTYPE) return n == 0 ? "vPos" : "vFace";
  if (type == D3DSPR_DEPTHOUT) return "oDepth";
  if (type == D3DSPR_LOOP) return "aL";
  return s + std::to_string(n);
}

inline std::string Disassemble(const std::vector<DWORD>& t) {
  if (t.empty()) return "";
  const bool vs = (t[0] >> 16) == 0xFFFE;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s_%u_%u\n", vs ? "vs" : "ps", (t[0] >> 8) & 0xFF, t[0] & 0xFF);
  std::string out = buf;
  size_t i = 1;
  while (i < t.size() && t[i] != D3DPS_END()) {
    const DWORD tok = t[i];
    const DWORD op = tok & 0xFFFF;
    if (op == D3DSIO_COMMENT) {
      i += 1 + ((tok & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT);
      continue;
    }
    const DWORD len = (tok >> 24) & 15;
    std::snprintf(buf, sizeof buf, "op%u", op);
    out += buf;
    if ((tok >> 16) & 0xFF) {
      std::snprintf(buf, sizeof buf, "_%u", (tok >> 16) & 0xFF);
      out += buf;
    }
    for (DWORD k = 1; k <= len && i + k < t.size(); ++k) {
      const DWORD p = t[i + k];
      out += k == 1 ? " " : ", ";
      if (op == D3DSIO_DEF && k > 1) {
        float f;
        std::memcpy(&f, &p, 4);
        std::snprintf(buf, sizeof buf, "%g", f);
        out += buf;
        continue;
      }
      if ((op == D3DSIO_DEFI || op == D3DSIO_DEFB) && k > 1) {
        out += std::to_string(int(p));
        continue;
      }
      if (op == D3DSIO_DCL && k == 1) {
        std::snprintf(buf, sizeof buf, "[%08x]", p);
        out += buf;
        continue;
      }
      out += Reg(p, vs);
      const bool dst = ((k == 1 && op != D3DSIO_DCL) || (k == 2 && op == D3DSIO_DCL)) &&
                       op != D3DSIO_IF && op != D3DSIO_IFC && op != D3DSIO_REP &&
                       op != D3DSIO_BREAKC && op != D3DSIO_LOOP && op != D3DSIO_CALL &&
                       op != D3DSIO_CALLNZ && op != D3DSIO_LABEL && op != D3DSIO_BREAKP;
      if (dst) {
        const DWORD m = (p >> 16) & 15;
        if (m != 15) {
          out += '.';
          for (int c = 0; c < 4; ++c)
            if (m >> c & 1) out += "xyzw"[c];
        }
        if (p & D3DSPDM_SATURATE) out += "_sat";
      } else {
        const DWORD sw = (p >> 16) & 0xFF;
        const DWORD mod = (p >> 24) & 15;
        if (sw != 0xE4) {
          out += '.';
          for (int c = 0; c < 4; ++c) out += "xyzw"[(sw >> (2 * c)) & 3];
        }
        if (mod) out += "<mod" + std::to_string(mod) + ">";
        if (p & D3DSHADER_ADDRMODE_RELATIVE) {
          ++k;
          out += "[rel]";
        }
      }
    }
    out += "\n";
    i += 1 + len;
  }
  return out;
}

}  // namespace shader_disasm
