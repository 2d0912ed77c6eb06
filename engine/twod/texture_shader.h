// Texture shaders: HLSL functions evaluated once per texel to fill a texture.
#pragma once

#include <string>

#include "engine/twod/twod_records.h"

// Compiles `source` with the entry point "Testout" for the profile "tx_1_0". 0 on failure, with
// LastError 16 and the compiler's messages (without their final line break) in LastErrorText.
TextureShader* CreateTextureShader(const std::string& source);
// Fills every texel of every level of the texture with the shader. 1 on success; 0 when the fill
// fails or either handle is unknown (nothing changes then).
int FillTextureWithShader(TextureShader* shader, Texture* texture);
