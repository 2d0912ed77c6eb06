// The shader-made background: a 64 x 64 texture filled by an HLSL texture shader, copied into a
// screen image stretched over the window.
#pragma once

#include <string>

struct Texture;
struct TextureShader;
struct ScreenImage;

// The assembled HLSL source of the background shader.
extern std::string ShaderSource;
// The line just read from the shader-source table.
extern std::string CurrentSourceLine;
extern Texture* BackgroundTexture;
extern TextureShader* BackgroundShader;
extern ScreenImage* BackgroundImage;

// The table's lines up to the end marker, each followed by one line feed.
std::string AssembleShaderSource();
