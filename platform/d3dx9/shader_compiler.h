// The tx_1_0 texture-shader compiler, independent of any device: source text in, program out.
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

// Compiles `entry` in `src` for `profile` (only "tx_1_0" is accepted), with object-like macros
// predefined. Never throws.
CompileOutput Compile(std::string_view src, std::string_view entry, std::string_view profile,
                      const std::vector<MacroDefinition>& defines = {});

}  // namespace vexa::shader
