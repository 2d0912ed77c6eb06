// The HLSL compiler, independent of any device: source text in, program out. tx_1_0 produces
// our texture-shader program (shader_bytecode.h); vs_2_0, vs_3_0, ps_2_0 and ps_3_0 produce
// Direct3D 9 shader tokens with a CTAB constant table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::shader {

struct CompileOutput {
  bool ok = false;
  std::vector<uint32_t> code;  // the encoded program when ok
  std::string messages;        // errors (or warnings on success), one per line, each ending "\n"
};

constexpr size_t kMaxEmitted = 1 << 20;  // instructions generated over a whole compile
constexpr size_t kMaxInlines = 1 << 16;  // helper-function expansions over a whole compile

struct MacroDefinition {
  std::string_view name;
  std::string_view body;
};

// Compiles `entry` in `src` for `profile`, with object-like macros predefined and D3DXSHADER_*
// `flags` (matrix packing). Never throws.
CompileOutput Compile(std::string_view src, std::string_view entry, std::string_view profile,
                      const std::vector<MacroDefinition>& defines = {}, uint32_t flags = 0);

}  // namespace vexa::shader
