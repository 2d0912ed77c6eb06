// Numbered fonts: GDI fonts opened by point size at the display's resolution.
#include "runtime/runtime_font.h"

#include <cstdint>

#include "runtime/object_table.h"
#include "runtime/runtime_internal.h"

namespace {

struct FontRecord {
  HFONT font = nullptr;
};

ObjectTable<FontRecord> g_fonts;

void Release(FontRecord* record) {
  if (!record) return;
  if (record->font) DeleteObject(record->font);
  g_fonts.Remove(record);
}

}  // namespace

RuntimeId OpenFont(RuntimeId number, const char* face, int size, int flags) {
  if (!ObjectTable<FontRecord>::ValidNewId(number)) return 0;
  if (number != kAnyObject) Release(g_fonts.Find(number));
  FontRecord* record = g_fonts.Create(number);
  if (!record) return 0;

  int pixelsPerInch = 96;
  if (HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr)) {
    pixelsPerInch = GetDeviceCaps(display, LOGPIXELSY);
    DeleteDC(display);
  }
  const int pixels = MulDiv(size, pixelsPerInch, 72);  // rounded; -1 when out of range
  record->font = CreateFontA(
      pixels == INT32_MIN ? INT32_MAX : -pixels, 0, 0, 0, (flags & kFontBold) ? FW_BOLD : FW_NORMAL,
      (flags & kFontItalic) ? 1 : 0, (flags & kFontUnderline) ? 1 : 0,
      (flags & kFontStrikeOut) ? 1 : 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
      (flags & kFontProofQuality) ? PROOF_QUALITY : DEFAULT_QUALITY, DEFAULT_PITCH,
      face ? face : "");
  if (!record->font) {
    g_fonts.Remove(record);
    return 0;
  }
  return number == kAnyObject ? reinterpret_cast<RuntimeId>(record)
                              : reinterpret_cast<RuntimeId>(record->font);
}

HFONT FontHandle(RuntimeId font) {
  FontRecord* record = g_fonts.Find(font);
  return record ? record->font : nullptr;
}

void ReleaseFont(RuntimeId font) {
  if (font == kAnyObject) return;
  Release(g_fonts.Find(font));
}

void ReleaseAllFonts() {
  g_fonts.ForEach([](FontRecord* record) {
    if (record->font) DeleteObject(record->font);
  });
  g_fonts.Clear();
}
