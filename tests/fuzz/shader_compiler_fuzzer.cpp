// libFuzzer target for the tx_1_0 texture-shader compiler and the program validator.
// Input starting with 0xFF: the rest is a compiled program for the validator (and, when it is
// accepted, the interpreter). Anything else: HLSL source for the compiler, whose output must
// always pass the validator and run within its budget.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../../platform/d3dx9/shader_bytecode.h"
#include "../../platform/d3dx9/shader_compiler.h"
#include "../../platform/d3dx9/shader_vm.h"

using namespace vexa::shader;

namespace {

void RunSome(const Program& p) {
  Machine m(p);
  if (!m.Init()) return;
  // A small shared budget keeps each input fast even when its loops never end.
  int64_t budget = int64_t(1) << 18;
  float out[4];
  for (int i = 0; i < 4; ++i)
    if (!m.Texel(0.125f + 0.25f * float(i), 0.5f, 0.25f, 0.25f, out, &budget)) return;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] == 0xFF) {
    Program p;
    std::string why;
    if (Decode(data + 1, size - 1, &p, &why)) RunSome(p);
    return 0;
  }
  std::string_view src(reinterpret_cast<const char*>(data), size);
  CompileOutput out = Compile(src, "main", "tx_1_0");
  if (!out.ok) {
    // Failures always explain themselves, one line per message.
    if (out.messages.empty() || out.messages.back() != '\n') std::abort();
    return 0;
  }
  Program p;
  std::string why;
  if (!Decode(out.code.data(), out.code.size() * 4, &p, &why)) std::abort();
  RunSome(p);
  return 0;
}
