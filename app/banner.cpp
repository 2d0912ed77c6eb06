// The banner image: four lines of text whose pixels carry their line's palette index.
#include "app/demo.h"
#include "runtime/runtime.h"

namespace {

constexpr int kBannerFont = 1;
constexpr int kBannerFontPoints = 10;
constexpr int kBannerFontFlags = kFontBold | kFontProofQuality;

struct BannerLine {
  const char* text;
  int x, y;
  // The line's palette index as a colour (red component 1..4), so that reading a pixel back
  // gives the index; smoothed glyph edges read back between 0 and it.
  uint32_t colour;
};
constexpr BannerLine kBanner[] = {
    {"*   Kestrelwing   *", 0, 0, 1},
    {"* wrapper 5.3.5.1 *", 0, 18, 2},
    {"*  together with  *", 0, 36, 3},
    {"* the Vexa engine *", 0, 54, 4},
};

}  // namespace

bool DrawBanner() {
  // Another face would build another world: without the banner's own font nothing is drawn.
  if (OpenFont(kBannerFont, "Lucida Console", kBannerFontPoints, kBannerFontFlags) == 0)
    return false;
  if (BeginImageDrawing(LogoImage) == nullptr) return false;
  SetDrawingFont(reinterpret_cast<RuntimeId>(FontHandle(kBannerFont)));
  for (const BannerLine& line : kBanner) DrawString(line.x, line.y, line.text, line.colour);
  EndDrawing();
  return true;
}
