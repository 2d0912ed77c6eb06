// The one font service behind GDI text and the D3DX font. Windows face names resolve through one
// alias table to named families of the Debian font packages the project installs, matched by a
// fontconfig configuration of the service's own (never the user's or the system's files), and
// FreeType rasterises them with fixed settings: every machine draws the same glyphs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace text {

// What a caller asks for, in Windows terms (the fields of a LOGFONT that matter for drawing).
struct FontRequest {
  std::string face;  // Windows face name; "" and unknown names give the sans-serif family
  int height = 0;    // < 0: em height in pixels; > 0: cell height (ascent + descent); 0: default
  int width = 0;     // average character width in pixels; 0 keeps the face's proportions
  int weight = 400;  // FW_* (0 = FW_NORMAL)
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  bool antialias = true;  // false: 1-bit glyphs (NONANTIALIASED_QUALITY), still 0/255 coverage
};

// The kind of design a family is, as GDI's pitch-and-family byte reports it.
enum class FamilyClass { SansSerif, Serif, Monospace };

// Cell metrics in whole pixels, as GetTextMetricsA reports them.
struct FontMetrics {
  int ascent = 0;           // baseline to the top of the cell
  int descent = 0;          // baseline to the bottom of the cell
  int cellHeight = 0;       // ascent + descent
  int emHeight = 0;         // the character (em) height the glyphs were rendered at
  int internalLeading = 0;  // cellHeight - emHeight
  int externalLeading = 0;
  int avgCharWidth = 0;
  int maxCharWidth = 0;
  int weight = 400;  // the weight of the font file used, in FW_* units
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  bool fixedPitch = false;
  int underlinePosition = 0;  // rows below the baseline of the underline's top
  int strikeOutPosition = 0;  // rows above the baseline of the strike-out line's top
  int lineThickness = 1;      // thickness of underline and strike-out in rows
  std::string family;         // the named family the face resolved to
  FamilyClass familyClass = FamilyClass::SansSerif;
  std::string file;  // the font file; "" when the family's files are missing
};

// One rendered glyph: 8-bit coverage, rows top-down, `width` bytes per row.
struct Glyph {
  int width = 0;
  int height = 0;
  int left = 0;     // pen position to the first column
  int top = 0;      // baseline up to the first row (positive = above the baseline)
  int advance = 0;  // pen advance in whole pixels
  std::vector<uint8_t> coverage;
};

// A face at one size and style. Faces are shared and live until the process ends; every member
// is safe to call from any thread (the service holds one lock around FreeType).
class Face {
 public:
  virtual ~Face() = default;
  virtual const FontMetrics& Metrics() const = 0;
  virtual const FontRequest& Request() const = 0;
  // The glyph of a Unicode code point, rendered once and cached; a code point the font lacks
  // gives its missing-glyph shape. The reference stays valid for the face's lifetime.
  virtual const Glyph& GlyphFor(uint32_t codePoint) = 0;
  // Sum of the advances of `count` Windows-1252 bytes (count < 0: up to the terminating zero).
  virtual int MeasureCp1252(const char* text, int count) = 0;
  // Renders the coverage of a Windows-1252 string, underline and strike-out included, into an
  // 8-bit buffer (`pitch` bytes per row, rows top-down). (x, y) is the top-left corner of the
  // text cell; coverage is combined with what the buffer holds by taking the maximum. Everything
  // is clipped to width x height. Returns the advance width drawn.
  virtual int RenderCp1252(const char* text, int count, uint8_t* buffer, int width, int height,
                           int pitch, int x, int y) = 0;
};

// Opens (or finds in the cache) the face for a request. Never returns null: when the files of the
// family the face name resolves to are missing, the face has no glyphs (every advance is half the
// em) and the service has said so once on standard error; callers that can fail check
// FaceAvailable first.
std::shared_ptr<Face> OpenFace(const FontRequest& request);

// The named family a Windows face name resolves to: "Lucida Console" gives "DejaVu Sans Mono",
// "Arial" "Liberation Sans", "" and unknown names "DejaVu Sans". Case is ignored.
std::string AliasFamily(const std::string& face);

// Whether every file of the family a face name resolves to is installed. If not, `error` (when
// given) receives one line naming the missing file and the Debian package that provides it, and
// that line has been written to standard error (once per family and process).
bool FaceAvailable(const std::string& face, std::string* error = nullptr);

// The directory the font packages install into (/usr/share/fonts/truetype). Tests point the
// service elsewhere to see what a machine without a package gets; the face cache is emptied.
void SetFontRoot(const std::string& directory);

// Windows-1252 to Unicode (the undefined bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D map to themselves).
uint32_t Cp1252ToUnicode(uint8_t byte);

// Number of glyphs FreeType has rendered since the process started: a cached glyph is not
// rendered again, so drawing the same text twice leaves this unchanged the second time.
uint64_t FreeTypeRenderCount();

}  // namespace text
