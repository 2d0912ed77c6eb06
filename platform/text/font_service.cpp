// Font service: the alias table, the service's own fontconfig configuration, FreeType with fixed
// rasterisation settings, and the glyph cache.
#include "text/font_service.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_TRUETYPE_TABLES_H

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unordered_map>

namespace text {
namespace {

// --- The font table ------------------------------------------------------------------------------
// Every family the service draws with, with the file of each style and the Debian package that
// installs it. Each family has all four styles, so a bold or italic request never needs outlines
// emboldened or slanted by the service.
struct StyleFile {
  const char* file;     // under the font root
  const char* package;  // the Debian package that installs it
};

struct Family {
  const char* name;
  FamilyClass familyClass;
  StyleFile styles[4];  // regular, bold, italic, bold italic
};

constexpr const char kDejaVuCore[] = "fonts-dejavu-core";
constexpr const char kDejaVuExtra[] = "fonts-dejavu-extra";
constexpr const char kLiberation[] = "fonts-liberation2";

constexpr Family kFamilies[] = {
    {"DejaVu Sans",
     FamilyClass::SansSerif,
     {{"dejavu/DejaVuSans.ttf", kDejaVuCore},
      {"dejavu/DejaVuSans-Bold.ttf", kDejaVuCore},
      {"dejavu/DejaVuSans-Oblique.ttf", kDejaVuExtra},
      {"dejavu/DejaVuSans-BoldOblique.ttf", kDejaVuExtra}}},
    {"DejaVu Sans Mono",
     FamilyClass::Monospace,
     {{"dejavu/DejaVuSansMono.ttf", kDejaVuCore},
      {"dejavu/DejaVuSansMono-Bold.ttf", kDejaVuCore},
      {"dejavu/DejaVuSansMono-Oblique.ttf", kDejaVuExtra},
      {"dejavu/DejaVuSansMono-BoldOblique.ttf", kDejaVuExtra}}},
    {"DejaVu Serif",
     FamilyClass::Serif,
     {{"dejavu/DejaVuSerif.ttf", kDejaVuCore},
      {"dejavu/DejaVuSerif-Bold.ttf", kDejaVuCore},
      {"dejavu/DejaVuSerif-Italic.ttf", kDejaVuExtra},
      {"dejavu/DejaVuSerif-BoldItalic.ttf", kDejaVuExtra}}},
    {"Liberation Sans",
     FamilyClass::SansSerif,
     {{"liberation2/LiberationSans-Regular.ttf", kLiberation},
      {"liberation2/LiberationSans-Bold.ttf", kLiberation},
      {"liberation2/LiberationSans-Italic.ttf", kLiberation},
      {"liberation2/LiberationSans-BoldItalic.ttf", kLiberation}}},
    {"Liberation Serif",
     FamilyClass::Serif,
     {{"liberation2/LiberationSerif-Regular.ttf", kLiberation},
      {"liberation2/LiberationSerif-Bold.ttf", kLiberation},
      {"liberation2/LiberationSerif-Italic.ttf", kLiberation},
      {"liberation2/LiberationSerif-BoldItalic.ttf", kLiberation}}},
    {"Liberation Mono",
     FamilyClass::Monospace,
     {{"liberation2/LiberationMono-Regular.ttf", kLiberation},
      {"liberation2/LiberationMono-Bold.ttf", kLiberation},
      {"liberation2/LiberationMono-Italic.ttf", kLiberation},
      {"liberation2/LiberationMono-BoldItalic.ttf", kLiberation}}},
};

// The face for "" and for every name the alias table does not know.
constexpr const char kDefaultFamily[] = "DejaVu Sans";

// Windows faces (lower case) to the families above. Metric-compatible families where they exist;
// the other monospace faces share one monospace family, the system and dialog faces the default.
struct Alias {
  const char* face;
  const char* family;
};
constexpr Alias kAliases[] = {
    {"arial", "Liberation Sans"},
    {"helvetica", "Liberation Sans"},
    {"times new roman", "Liberation Serif"},
    {"times", "Liberation Serif"},
    {"courier new", "Liberation Mono"},
    {"courier", "Liberation Mono"},
    {"lucida console", "DejaVu Sans Mono"},
    {"consolas", "DejaVu Sans Mono"},
    {"lucida sans typewriter", "DejaVu Sans Mono"},
    {"fixedsys", "DejaVu Sans Mono"},
    {"terminal", "DejaVu Sans Mono"},
    {"monospace", "DejaVu Sans Mono"},
    {"mono", "DejaVu Sans Mono"},
    {"georgia", "DejaVu Serif"},
    {"serif", "DejaVu Serif"},
    {"system", "DejaVu Sans"},
    {"ms sans serif", "DejaVu Sans"},
    {"microsoft sans serif", "DejaVu Sans"},
    {"ms shell dlg", "DejaVu Sans"},
    {"ms shell dlg 2", "DejaVu Sans"},
    {"segoe ui", "DejaVu Sans"},
    {"tahoma", "DejaVu Sans"},
    {"verdana", "DejaVu Sans"},
    {"sans-serif", "DejaVu Sans"},
    {"sans", "DejaVu Sans"},
};

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const Family& FamilyNamed(const std::string& name) {
  for (const Family& family : kFamilies)
    if (name == family.name) return family;
  return kFamilies[0];
}

// --- Service state -------------------------------------------------------------------------------
// One lock for the whole service: FreeType's library object and the fontconfig configuration are
// shared by every face.
std::mutex g_lock;
std::atomic<uint64_t> g_renders{0};
std::string g_root = "/usr/share/fonts/truetype";
FT_Library g_library = nullptr;
bool g_libraryTried = false;
FcConfig* g_config = nullptr;
std::set<std::string> g_reported;  // families whose missing files were reported

void* FtAlloc(FT_Memory, long size) {
  return std::malloc(static_cast<size_t>(size));
}
void FtFree(FT_Memory, void* block) {
  std::free(block);
}
void* FtRealloc(FT_Memory, long, long size, void* block) {
  return std::realloc(block, static_cast<size_t>(size));
}
FT_MemoryRec_ g_memory = {nullptr, FtAlloc, FtFree, FtRealloc};

// FreeType without FT_Init_FreeType, which would read FREETYPE_PROPERTIES from the environment.
// Native TrueType hinting with the classic (version 35) interpreter snaps stems in both
// directions, as Windows' greyscale text does: small bold text keeps solid pixels.
FT_Library Library() {
  if (g_libraryTried) return g_library;
  g_libraryTried = true;
  if (FT_New_Library(&g_memory, &g_library) != 0) return g_library = nullptr;
  FT_Add_Default_Modules(g_library);
  FT_UInt interpreter = TT_INTERPRETER_VERSION_35;
  if (FT_Property_Set(g_library, "truetype", "interpreter-version", &interpreter) != 0) {
    FT_Done_Library(g_library);
    g_library = nullptr;
  }
  return g_library;
}

std::string PathOf(const StyleFile& style) {
  return g_root + "/" + style.file;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A configuration that knows only the table's files: no configuration files are read (so neither
// FONTCONFIG_FILE, /etc/fonts nor ~/.config/fontconfig take part) and other fonts installed beside
// ours are never candidates.
FcConfig* Config() {
  if (g_config) return g_config;
  g_config = FcConfigCreate();
  if (!g_config) return nullptr;
  for (const Family& family : kFamilies)
    for (const StyleFile& style : family.styles) {
      const std::string path = PathOf(style);
      if (Exists(path))
        FcConfigAppFontAddFile(g_config, reinterpret_cast<const FcChar8*>(path.c_str()));
    }
  return g_config;
}

// The first missing file of a family, as the line to show; "" when the family is complete.
std::string MissingFile(const Family& family) {
  for (const StyleFile& style : family.styles) {
    const std::string path = PathOf(style);
    if (!Exists(path))
      return std::string("font service: ") + path + " (" + family.name +
             ") is missing; install the Debian package " + style.package;
  }
  return {};
}

bool CheckFamilyLocked(const Family& family, std::string* error) {
  const std::string missing = MissingFile(family);
  if (error) *error = missing;
  if (missing.empty()) return true;
  if (g_reported.insert(family.name).second) std::fprintf(stderr, "%s\n", missing.c_str());
  return false;
}

struct Resolved {
  std::string file;
  int index = 0;
};

// The file of `family` that fontconfig finds nearest to the weight and slant. Only the family's
// own files can answer: a match from another family means the family is not there.
Resolved Match(const Family& family, int weight, bool italic) {
  Resolved r;
  FcConfig* config = Config();
  FcPattern* pattern = config ? FcPatternCreate() : nullptr;
  if (!pattern) return r;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.name));
  FcPatternAddDouble(pattern, FC_WEIGHT, FcWeightFromOpenTypeDouble(weight));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return r;
  FcChar8* name = nullptr;
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch && name &&
      std::strcmp(reinterpret_cast<const char*>(name), family.name) == 0 &&
      FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    r.file = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) r.index = index;
  }
  FcPatternDestroy(match);
  return r;
}

class FaceImpl final : public Face {
 public:
  explicit FaceImpl(const FontRequest& request) : request_(request) { Open(); }
  ~FaceImpl() override {
    if (face_) FT_Done_Face(face_);
  }

  const FontMetrics& Metrics() const override { return metrics_; }
  const FontRequest& Request() const override { return request_; }

  const Glyph& GlyphFor(uint32_t codePoint) override {
    std::lock_guard<std::mutex> hold(g_lock);
    return GlyphLocked(codePoint);
  }

  int MeasureCp1252(const char* text, int count) override {
    if (!text) return 0;
    if (count < 0) count = static_cast<int>(std::strlen(text));
    std::lock_guard<std::mutex> hold(g_lock);
    int width = 0;
    for (int i = 0; i < count; ++i)
      width += GlyphLocked(Cp1252ToUnicode(static_cast<uint8_t>(text[i]))).advance;
    return width;
  }

  int RenderCp1252(const char* text, int count, uint8_t* buffer, int width, int height, int pitch,
                   int x, int y) override {
    if (!text) return 0;
    if (count < 0) count = static_cast<int>(std::strlen(text));
    std::lock_guard<std::mutex> hold(g_lock);
    const int64_t baseline = static_cast<int64_t>(y) + metrics_.ascent;
    int64_t pen = x;
    for (int i = 0; i < count; ++i) {
      const Glyph& g = GlyphLocked(Cp1252ToUnicode(static_cast<uint8_t>(text[i])));
      if (buffer) Blit(g, pen + g.left, baseline - g.top, buffer, width, height, pitch);
      pen += g.advance;
    }
    if (buffer && request_.underline)
      Line(x, pen, baseline + metrics_.underlinePosition, buffer, width, height, pitch);
    if (buffer && request_.strikeOut)
      Line(x, pen, baseline - metrics_.strikeOutPosition, buffer, width, height, pitch);
    return static_cast<int>(pen - x);
  }

 private:
  static void Blit(const Glyph& g, int64_t left, int64_t top, uint8_t* buffer, int width,
                   int height, int pitch) {
    int64_t x0 = std::max<int64_t>(0, left), x1 = std::min<int64_t>(width, left + g.width);
    int64_t y0 = std::max<int64_t>(0, top), y1 = std::min<int64_t>(height, top + g.height);
    for (int64_t yy = y0; yy < y1; ++yy) {
      const uint8_t* src = g.coverage.data() + (yy - top) * g.width;
      uint8_t* dst = buffer + yy * pitch;
      for (int64_t xx = x0; xx < x1; ++xx) dst[xx] = std::max(dst[xx], src[xx - left]);
    }
  }

  void Line(int64_t from, int64_t to, int64_t top, uint8_t* buffer, int width, int height,
            int pitch) const {
    int64_t x0 = std::max<int64_t>(0, from), x1 = std::min<int64_t>(width, to);
    int64_t y0 = std::max<int64_t>(0, top);
    int64_t y1 = std::min<int64_t>(height, top + metrics_.lineThickness);
    for (int64_t yy = y0; yy < y1; ++yy)
      std::memset(buffer + yy * pitch + x0, 255, x1 > x0 ? x1 - x0 : 0);
  }

  void Open() {
    std::lock_guard<std::mutex> hold(g_lock);
    const int weight = request_.weight <= 0 ? 400 : std::clamp(request_.weight, 1, 1000);
    const Family& family = FamilyNamed(AliasFamily(request_.face));
    metrics_.family = family.name;
    metrics_.familyClass = family.familyClass;
    metrics_.weight = weight;
    metrics_.italic = request_.italic;
    metrics_.underline = request_.underline;
    metrics_.strikeOut = request_.strikeOut;
    FT_Library lib = Library();
    if (lib && CheckFamilyLocked(family, nullptr)) {
      const Resolved r = Match(family, weight, request_.italic);
      if (!r.file.empty() && FT_New_Face(lib, r.file.c_str(), r.index, &face_) == 0) {
        metrics_.file = r.file;
        FT_Select_Charmap(face_, FT_ENCODING_UNICODE);
        auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        if (os2 && os2->version != 0xFFFF && os2->usWeightClass >= 1 && os2->usWeightClass <= 1000)
          metrics_.weight = os2->usWeightClass;
        else
          metrics_.weight = (face_->style_flags & FT_STYLE_FLAG_BOLD) ? 700 : 400;
      } else {
        face_ = nullptr;
      }
    }
    SetSize();
  }

  // Windows heights: negative = em height, positive = cell height (the font's Windows ascent plus
  // descent), 0 = a 16-pixel cell.
  void SetSize() {
    int h = request_.height == 0 ? 16 : request_.height;
    if (h == INT32_MIN) h = -16;
    h = std::clamp(h, -4096, 4096);
    if (!face_ || !FT_IS_SCALABLE(face_)) {
      // Without an outline font the metrics are still sound: a cell split 4:1.
      int cell = h > 0 ? h : (-h * 5 + 3) / 4;
      metrics_.ascent = (cell * 4 + 4) / 5;
      metrics_.descent = cell - metrics_.ascent;
      metrics_.cellHeight = cell;
      metrics_.emHeight = h < 0 ? -h : (cell * 4 + 4) / 5;
      metrics_.internalLeading = std::max(0, cell - metrics_.emHeight);
      metrics_.avgCharWidth =
          request_.width > 0 ? request_.width : std::max(1, metrics_.emHeight / 2);
      metrics_.maxCharWidth = metrics_.avgCharWidth;
      metrics_.lineThickness = std::max(1, metrics_.emHeight / 14);
      metrics_.underlinePosition = std::max(1, metrics_.descent / 2);
      metrics_.strikeOutPosition = metrics_.emHeight * 3 / 10;
      return;
    }
    const double units = face_->units_per_EM ? face_->units_per_EM : 2048;
    double winAscent = face_->ascender, winDescent = -face_->descender;
    double lineGap = face_->height - (face_->ascender - face_->descender);
    double avgWidth = 0, strikePos = 0, strikeSize = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        os2 && os2->version != 0xFFFF) {
      if (os2->usWinAscent + os2->usWinDescent > 0) {
        // Windows sizes the cell by the OS/2 "win" metrics; external leading is what the hhea
        // line gap adds beyond them.
        double hheaSpan = face_->ascender - face_->descender;
        winAscent = os2->usWinAscent;
        winDescent = os2->usWinDescent;
        lineGap = std::max(0.0, face_->height - hheaSpan - ((winAscent + winDescent) - hheaSpan));
      }
      avgWidth = os2->xAvgCharWidth;
      strikePos = os2->yStrikeoutPosition;
      strikeSize = os2->yStrikeoutSize;
    }
    if (winAscent + winDescent <= 0) {
      winAscent = units * 0.8;
      winDescent = units * 0.2;
    }
    double em;
    if (h < 0)
      em = -h;
    else
      em = h * units / (winAscent + winDescent);
    double scale = em / units;
    double emX = em;
    if (request_.width > 0) {
      double natural = avgWidth > 0 ? avgWidth * scale : em / 2;
      if (natural > 0) emX = em * request_.width / natural;
    }
    emX = std::clamp(emX, 1.0 / 64, 8192.0);
    em = std::clamp(em, 1.0 / 64, 8192.0);
    FT_Set_Char_Size(face_, static_cast<FT_F26Dot6>(std::lround(emX * 64)),
                     static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
    double scaleX = emX / units;

    metrics_.ascent = static_cast<int>(std::lround(winAscent * scale));
    metrics_.descent =
        h > 0 ? h - metrics_.ascent : static_cast<int>(std::lround(winDescent * scale));
    metrics_.cellHeight = metrics_.ascent + metrics_.descent;
    metrics_.emHeight = static_cast<int>(std::lround(em));
    metrics_.internalLeading = std::max(0, metrics_.cellHeight - metrics_.emHeight);
    metrics_.externalLeading = std::max(0, static_cast<int>(std::lround(lineGap * scale)));
    metrics_.fixedPitch = FT_IS_FIXED_WIDTH(face_);
    metrics_.avgCharWidth = avgWidth > 0 ? static_cast<int>(std::lround(avgWidth * scaleX)) : 0;
    metrics_.maxCharWidth = static_cast<int>(std::lround(face_->max_advance_width * scaleX));
    metrics_.lineThickness =
        std::max(1, static_cast<int>(std::lround(face_->underline_thickness * scale)));
    metrics_.underlinePosition =
        std::clamp(static_cast<int>(std::lround(-face_->underline_position * scale)), 1,
                   std::max(1, metrics_.descent - metrics_.lineThickness));
    if (strikePos <= 0) strikePos = units * 0.28;
    if (strikeSize > 0)
      metrics_.lineThickness =
          std::max(metrics_.lineThickness, static_cast<int>(std::lround(strikeSize * scale)));
    metrics_.strikeOutPosition = static_cast<int>(std::lround(strikePos * scale));
    if (metrics_.avgCharWidth <= 0) metrics_.avgCharWidth = GlyphLocked('x').advance;
    metrics_.maxCharWidth = std::max(metrics_.maxCharWidth, metrics_.avgCharWidth);
  }

  const Glyph& GlyphLocked(uint32_t codePoint) {
    auto found = glyphs_.find(codePoint);
    if (found != glyphs_.end()) return found->second;
    Glyph& g = glyphs_[codePoint];
    if (!face_) {
      g.advance = std::max(1, metrics_.emHeight / 2);
      return g;
    }
    FT_UInt index = FT_Get_Char_Index(face_, codePoint);
    const bool aa = request_.antialias;
    // The font's own hints only (never the auto-hinter) and outlines only (never embedded bitmaps).
    FT_Int32 flags = FT_LOAD_NO_AUTOHINT | FT_LOAD_NO_BITMAP |
                     (aa ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
    if (FT_Load_Glyph(face_, index, flags) != 0) {
      g.advance = std::max(1, metrics_.emHeight / 2);
      return g;
    }
    FT_GlyphSlot slot = face_->glyph;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, aa ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return g;
    ++g_renders;
    const FT_Bitmap& bm = slot->bitmap;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.coverage.assign(static_cast<size_t>(g.width) * g.height, 0);
    for (int row = 0; row < g.height; ++row) {
      const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
      uint8_t* dst = g.coverage.data() + static_cast<size_t>(row) * g.width;
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
        for (int col = 0; col < g.width; ++col)
          dst[col] = (src[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
      } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays == 256) {
        std::memcpy(dst, src, g.width);
      } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays > 1) {
        for (int col = 0; col < g.width; ++col) dst[col] = src[col] * 255 / (bm.num_grays - 1);
      }
    }
    return g;
  }

  FontRequest request_;
  FontMetrics metrics_;
  FT_Face face_ = nullptr;
  std::unordered_map<uint32_t, Glyph> glyphs_;
};

std::string CacheKey(const FontRequest& r) {
  return AliasFamily(r.face) + '\x1f' + std::to_string(r.height) + ',' + std::to_string(r.width) +
         ',' + std::to_string(r.weight <= 0 ? 400 : r.weight) + ',' + (r.italic ? 'i' : '-') +
         (r.underline ? 'u' : '-') + (r.strikeOut ? 's' : '-') + (r.antialias ? 'a' : '-');
}

std::mutex g_cacheLock;  // taken before g_lock when both are held
std::unordered_map<std::string, std::shared_ptr<Face>> g_cache;

}  // namespace

std::string AliasFamily(const std::string& face) {
  const std::string key = Lower(face);
  for (const Family& family : kFamilies)
    if (key == Lower(family.name)) return family.name;
  for (const Alias& alias : kAliases)
    if (key == alias.face) return alias.family;
  return kDefaultFamily;
}

bool FaceAvailable(const std::string& face, std::string* error) {
  std::lock_guard<std::mutex> hold(g_lock);
  return CheckFamilyLocked(FamilyNamed(AliasFamily(face)), error);
}

void SetFontRoot(const std::string& directory) {
  std::lock_guard<std::mutex> holdCache(g_cacheLock);
  std::lock_guard<std::mutex> hold(g_lock);
  g_root = directory;
  if (g_config) FcConfigDestroy(g_config);
  g_config = nullptr;
  g_reported.clear();
  g_cache.clear();
}

uint32_t Cp1252ToUnicode(uint8_t byte) {
  static const uint16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (byte >= 0x80 && byte < 0xA0) return high[byte - 0x80];
  return byte;
}

std::shared_ptr<Face> OpenFace(const FontRequest& request) {
  std::lock_guard<std::mutex> hold(g_cacheLock);
  std::string key = CacheKey(request);
  auto found = g_cache.find(key);
  if (found != g_cache.end()) return found->second;
  auto face = std::make_shared<FaceImpl>(request);
  g_cache.emplace(key, face);
  return face;
}

uint64_t FreeTypeRenderCount() {
  return g_renders.load();
}

}  // namespace text
