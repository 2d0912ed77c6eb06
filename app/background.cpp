// The shader-made background.
#include "app/background.h"

#include <cstring>

#include "app/demo.h"
#include "engine/vexa.h"

std::string ShaderSource;
std::string CurrentSourceLine;
Texture* BackgroundTexture = nullptr;
TextureShader* BackgroundShader = nullptr;
ScreenImage* BackgroundImage = nullptr;

namespace {

// The shader's source lines as one run of NUL-terminated strings, closed by "End". The comment
// lines keep their old multipliers although the code line uses 10.0 and 5.0.
constexpr char kShaderSourceTable[] =
    "// Sinus/Cos Demo\0"
    "// float2 a: POSITION = Texturposition, a.x and a.y \0"
    "// float4 = color (r,g,b,a)\0"
    "// r = sin(length(a) * 100.0) * 0.5 + 0.5\0"
    "// g=sin(a.y * 50.0)\0"
    "// b=cos(a.x * 50.0)\0"
    "// a=0\0"
    "\0"
    "float4 Testout(float2 a: POSITION ) : COLOR\0"
    "  {\0"
    "    return float4(sin(length(a) * 10.0) * 0.5 + 0.5, sin(a.y * 5.0), cos(a.x * 5.0), 1);\0"
    "\0"
    "  };\0"
    "End\0";
constexpr const char kEndMarker[] = "End";
constexpr int kBackgroundSize = 64;

// The table's read cursor: the next string to read.
const char* SourceCursor = kShaderSourceTable;

void ResetSourceCursor() {
  SourceCursor = kShaderSourceTable;
}

// Reads the string under the cursor into CurrentSourceLine and moves past its terminator. The
// table always ends with the marker, so the cursor never leaves it.
void ReadSourceLine() {
  CurrentSourceLine = SourceCursor;
  if (CurrentSourceLine != kEndMarker) SourceCursor += CurrentSourceLine.size() + 1;
}

}  // namespace

std::string AssembleShaderSource() {
  ResetSourceCursor();
  std::string source;
  ReadSourceLine();
  while (CurrentSourceLine != kEndMarker) {
    source += CurrentSourceLine;
    source += '\n';
    ReadSourceLine();
  }
  return source;
}

void PrepareBackground() {
  ShaderSource = AssembleShaderSource();
  BackgroundTexture =
      CreateTexture(kBackgroundSize, kBackgroundSize, ComposeColour(30, 255, 255, 255));
  BackgroundShader = CreateTextureShader(ShaderSource);
  FillTextureWithShader(BackgroundShader, BackgroundTexture);
  BackgroundImage = CreateScreenImage(BackgroundTexture);
  PlaceScreenImage(BackgroundImage, 0, 0, 1);
  StretchScreenImage(BackgroundImage, 0, 0, kWindowWidth, kWindowHeight);
}
