// The text overlay: DrawText/QueueText measure and align a text once and queue it; the text pass
// draws the queue font by font, each font's commands inside one Begin/End of its sprite batch.
#include "engine/core/text_overlay.h"

#include <cmath>
#include <cstdint>

#include "engine/core/engine_state.h"

namespace {

// The engine's single-precision degrees-to-radians factor.
constexpr float kDegreesToRadians = 0.017453f;

// Nearest integer, halves to even (the default floating-point rounding mode).
// Results outside the 32-bit range (extreme positions or scales) saturate; NaN gives 0.
int32_t RoundHalfEven(float value) {
  const double rounded = std::nearbyint(static_cast<double>(value));
  if (!(rounded == rounded)) return 0;
  if (rounded <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  if (rounded >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(rounded);
}

// The font a command is drawn with, and the FontList index to put the cursor back on.
Font* ChooseFont(Font* requested, int32_t* rememberedIndex) {
  ObjectList<Font>& fonts = Engine.FontList;
  if (requested == nullptr) {
    *rememberedIndex = 0;
    Font* current = fonts.Current();
    return current != nullptr ? current : fonts.First();
  }
  *rememberedIndex = fonts.Index();
  // A font that is not in the list leaves the walk on the last font, which is then used.
  Font* found = nullptr;
  fonts.Reset();
  while (Font* font = fonts.Next()) {
    found = font;
    if (font == requested) break;
  }
  return found;
}

}  // namespace

int DrawText(int x, int y, const char* text) {
  return QueueText(x, y, text, Engine.TextFont, Engine.TextColour, Engine.TextAlign,
                   Engine.TextRotation);
}

int QueueText(int x, int y, const char* text, Font* font, uint32_t colour, int align,
              float rotationDegrees) {
  if (text == nullptr || text[0] == '\0') return 0;
  if (Engine.PresentResult != 0) return 0;

  int32_t rememberedIndex = 0;
  Font* chosen = ChooseFont(font, &rememberedIndex);
  if (chosen == nullptr) {  // no font at all: nothing could ever draw the command
    Engine.FontList.Select(rememberedIndex);
    return 0;
  }

  // Commands keep call order: append behind the last one whatever the queue's cursor says.
  Engine.TextQueue.Last();
  TextCommand* command = Engine.TextQueue.Add();
  command->Rotation = rotationDegrees * kDegreesToRadians;
  command->ScaleX = Engine.TextScaleX;
  command->ScaleY = Engine.TextScaleY;
  command->Depth = Engine.TextDepth;

  // Measured once, here; a failed measurement leaves the width 0 and the text unaligned.
  RECT extent = {0, 0, 0, 0};
  if (chosen->D3DFont != nullptr)
    chosen->D3DFont->DrawTextA(nullptr, text, -1, &extent, DT_CALCRECT, 0xFF000000);
  const float width = static_cast<float>(extent.right);

  if (align == 1) {
    command->Format = DT_RIGHT;
    command->X = RoundHalfEven(static_cast<float>(x) - width * command->ScaleX);
    command->CentreOffset = RoundHalfEven(width * command->ScaleX);
  } else if (align == 2) {
    command->Format = DT_CENTER;
    command->X = RoundHalfEven(static_cast<float>(x) - width * command->ScaleX / 2.0f);
    command->CentreOffset = RoundHalfEven(width * command->ScaleX / 2.0f);
  } else {
    command->Format = DT_LEFT;
    command->X = x;
    command->CentreOffset = 0;
  }
  command->Y = y;
  command->Colour = colour;
  command->Text = text;
  command->FontHandle = chosen;

  Engine.FontList.Select(rememberedIndex);
  return 1;
}

void DrawTextPass() {
  ObjectList<TextCommand>& queue = Engine.TextQueue;
  Engine.FontList.Reset();
  while (Font* font = Engine.FontList.Next()) {
    ID3DXSprite* sprite = font->D3DSprite;
    ID3DXFont* d3dFont = font->D3DFont;
    const bool usable = sprite != nullptr && d3dFont != nullptr;
    if (usable) sprite->Begin(D3DXSPRITE_ALPHABLEND);
    queue.Reset();
    while (TextCommand* command = queue.Next()) {
      if (command->FontHandle != font) continue;
      if (usable) {
        const D3DXVECTOR2 scaling(command->ScaleX, command->ScaleY);
        const D3DXVECTOR2 rotationCentre(static_cast<float>(command->CentreOffset), 0.0f);
        const D3DXVECTOR2 translation(static_cast<float>(command->X),
                                      static_cast<float>(command->Y));
        D3DXMATRIX transform;
        D3DXMatrixTransformation2D(&transform, nullptr, 0.0f, &scaling, &rotationCentre,
                                   command->Rotation, &translation);
        transform._43 = command->Depth;
        sprite->SetTransform(&transform);
        // X already holds the aligned left edge, so the text is laid out from the origin of its
        // transform; aligning it again about that origin would move it a second time.
        d3dFont->DrawTextA(sprite, command->Text.c_str(), -1, nullptr, DT_LEFT, command->Colour);
      }
      // A font without its D3DX objects cannot draw: its commands leave the queue undrawn
      // rather than pile up frame after frame.
      queue.Remove();
    }
    if (usable) sprite->End();
  }
  Engine.FontList.First();
}
