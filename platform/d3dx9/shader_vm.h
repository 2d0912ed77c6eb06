// The interpreter of validated texture-shader programs.
#pragma once

#include <cstdint>
#include <vector>

#include "shader_bytecode.h"

namespace vexa::shader {

// Gradient noise in 1 to 3 dimensions, 0 at integer lattice points, within [-1, 1].
float Noise1(float x);
float Noise2(float x, float y);
float Noise3(float x, float y, float z);

class Machine {
 public:
  // `p` must have passed Decode.
  explicit Machine(const Program& p);

  // Runs the init section from zeroed registers and keeps the globals it leaves. False when it
  // ran out of its loop budget.
  bool Init();
  // Replaces the globals (as Init left them) with `values` (4 floats per global).
  void SetGlobals(const std::vector<float>& values);
  const std::vector<float>& Globals() const { return globals_; }

  // Evaluates one texel. False when the per-texel or the shared fill budget ran out.
  bool Texel(float px, float py, float sx, float sy, float out[4], int64_t* fill_budget);

 private:
  struct DInstr {
    uint8_t op;
    uint8_t mask;
    uint8_t aux;
    uint8_t single;  // the one component a single-bit mask writes, else 4
    uint16_t dst;
    uint16_t src[3];  // indices into the unified register file
    uint8_t sw[3][4];
    uint16_t target;
  };
  std::vector<DInstr> Prepare(const std::vector<Instr>& code) const;
  bool Run(const std::vector<DInstr>& code, int64_t* fill_budget);

  uint32_t num_regs_;
  uint32_t pos_reg_, psize_reg_, result_reg_, num_globals_;
  std::vector<DInstr> init_, main_;
  std::vector<float> regs_;  // registers, then constants; 4 floats each
  std::vector<float> globals_;
};

}  // namespace vexa::shader
