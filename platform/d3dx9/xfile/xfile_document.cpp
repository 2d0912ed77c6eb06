// Reading a DirectX file into a Document: the header, the text and binary token streams behind one
// lexer interface, and one recursive-descent parser over them.
#include <charconv>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>

#include "d3dx9/xfile/xfile_document.h"
#include "d3dx9mesh.h"

namespace xfile {

namespace {

constexpr size_t kHeaderBytes = 16;

enum class Tok {
  End,
  Error,
  Name,
  String,
  Number,       // one number (text, or a binary TOKEN_INTEGER)
  IntegerList,  // binary TOKEN_INTEGER_LIST: `count` DWORDs at `list`
  FloatList,    // binary TOKEN_FLOAT_LIST: `count` floats or doubles at `list`
  Guid,
  OBrace,
  CBrace,
  Comma,
  Semicolon,
  Template,
  Other,  // punctuation and type keywords, which only template declarations use
};

struct Token {
  Tok kind = Tok::End;
  std::string_view text;
  double number = 0.0;
  const uint8_t* list = nullptr;
  uint32_t count = 0;
  GUID guid{};
};

uint32_t Read16(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Read32(const uint8_t* p) {
  return Read16(p) | Read16(p + 2) << 16;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "3D82AB43-62DA-11cf-AB39-0020AF71E433": 32 hex digits in groups of 8, 4, 4, 4 and 12.
bool ParseGuidText(std::string_view s, GUID* out) {
  static constexpr int kGroups[] = {8, 4, 4, 4, 12};
  uint8_t bytes[16];
  int nibble = 0;
  size_t at = 0;
  for (int g = 0; g < 5; ++g) {
    if (g > 0) {
      if (at >= s.size() || s[at] != '-') return false;
      ++at;
    }
    for (int i = 0; i < kGroups[g]; ++i, ++at, ++nibble) {
      if (at >= s.size()) return false;
      const int d = HexDigit(s[at]);
      if (d < 0) return false;
      if (nibble % 2 == 0)
        bytes[nibble / 2] = uint8_t(d << 4);
      else
        bytes[nibble / 2] |= uint8_t(d);
    }
  }
  if (at != s.size()) return false;
  out->Data1 =
      uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
  out->Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
  out->Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
  std::memcpy(out->Data4, bytes + 8, 8);
  return true;
}

class Lexer {
 public:
  Lexer(const uint8_t* data, size_t size, bool binary, int floatBytes)
      : p_(data), end_(data + size), binary_(binary), floatBytes_(floatBytes) {}

  Token Next() {
    if (peeked_) {
      peeked_ = false;
      return peek_;
    }
    return binary_ ? NextBinary() : NextText();
  }
  const Token& Peek() {
    if (!peeked_) {
      peek_ = binary_ ? NextBinary() : NextText();
      peeked_ = true;
    }
    return peek_;
  }
  int FloatBytes() const { return floatBytes_; }

 private:
  static Token Make(Tok kind) {
    Token t;
    t.kind = kind;
    return t;
  }

  static bool WordChar(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == '+';
  }

  Token NextText() {
    for (;;) {
      while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n' || *p_ == '\f' ||
                           *p_ == '\v'))
        ++p_;
      if (p_ >= end_) return Make(Tok::End);
      const bool comment = *p_ == '#' || (*p_ == '/' && end_ - p_ >= 2 && p_[1] == '/');
      if (!comment) break;
      while (p_ < end_ && *p_ != '\n') ++p_;
    }
    const uint8_t c = *p_;
    switch (c) {
      case '{':
        ++p_;
        return Make(Tok::OBrace);
      case '}':
        ++p_;
        return Make(Tok::CBrace);
      case ',':
        ++p_;
        return Make(Tok::Comma);
      case ';':
        ++p_;
        return Make(Tok::Semicolon);
      case '[':
      case ']':
      case '(':
      case ')':
        ++p_;
        return Make(Tok::Other);
      case '"': {
        const uint8_t* start = ++p_;
        while (p_ < end_ && *p_ != '"') ++p_;
        if (p_ >= end_) return Make(Tok::Error);
        Token t = Make(Tok::String);
        t.text = std::string_view(reinterpret_cast<const char*>(start), size_t(p_ - start));
        ++p_;
        return t;
      }
      case '<': {
        const uint8_t* start = ++p_;
        while (p_ < end_ && *p_ != '>' && p_ - start < 64) ++p_;
        if (p_ >= end_ || *p_ != '>') return Make(Tok::Error);
        Token t = Make(Tok::Guid);
        const std::string_view s(reinterpret_cast<const char*>(start), size_t(p_ - start));
        ++p_;
        if (!ParseGuidText(s, &t.guid)) return Make(Tok::Error);
        return t;
      }
      default:
        break;
    }
    if (!WordChar(c)) return Make(Tok::Error);
    const uint8_t* start = p_;
    while (p_ < end_ && WordChar(*p_)) ++p_;
    const std::string_view word(reinterpret_cast<const char*>(start), size_t(p_ - start));
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
      // A word that reads as a number in full is one; anything else (a name such as
      // "01_Bone") is a name.
      std::string_view digits = word;
      if (digits[0] == '+') digits.remove_prefix(1);
      double value = 0.0;
      const auto [rest, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                              std::chars_format::general);
      if (ec == std::errc() && rest == digits.data() + digits.size() && !digits.empty() &&
          (digits[0] != '-' || digits.size() > 1)) {
        Token t = Make(Tok::Number);
        t.number = value;
        return t;
      }
    }
    Token t = Make(word == "template" ? Tok::Template : Tok::Name);
    t.text = word;
    return t;
  }

  bool Have(size_t n) const { return size_t(end_ - p_) >= n; }

  Token NextBinary() {
    if (p_ >= end_) return Make(Tok::End);
    if (!Have(2)) return Make(Tok::Error);
    const uint32_t token = Read16(p_);
    p_ += 2;
    switch (token) {
      case 1:    // TOKEN_NAME: count, bytes
      case 2: {  // TOKEN_STRING: count, bytes, then a comma or semicolon token
        if (!Have(4)) return Make(Tok::Error);
        const uint32_t n = Read32(p_);
        p_ += 4;
        if (!Have(n)) return Make(Tok::Error);
        Token t = Make(token == 1 ? Tok::Name : Tok::String);
        t.text = std::string_view(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        if (token == 2 && Have(2) && (Read16(p_) == 0x13 || Read16(p_) == 0x14)) {
          p_ += 2;
          // Some writers store the terminator as a DWORD; its zero upper half is no token.
          if (Have(2) && Read16(p_) == 0) p_ += 2;
        }
        return t;
      }
      case 3: {  // TOKEN_INTEGER
        if (!Have(4)) return Make(Tok::Error);
        Token t = Make(Tok::Number);
        t.number = Read32(p_);
        p_ += 4;
        return t;
      }
      case 5: {  // TOKEN_GUID
        if (!Have(16)) return Make(Tok::Error);
        Token t = Make(Tok::Guid);
        t.guid.Data1 = Read32(p_);
        t.guid.Data2 = uint16_t(Read16(p_ + 4));
        t.guid.Data3 = uint16_t(Read16(p_ + 6));
        std::memcpy(t.guid.Data4, p_ + 8, 8);
        p_ += 16;
        return t;
      }
      case 6:    // TOKEN_INTEGER_LIST
      case 7: {  // TOKEN_FLOAT_LIST
        if (!Have(4)) return Make(Tok::Error);
        const uint32_t n = Read32(p_);
        p_ += 4;
        const size_t element = token == 6 ? 4 : size_t(floatBytes_);
        if (size_t(end_ - p_) / element < n) return Make(Tok::Error);
        Token t = Make(token == 6 ? Tok::IntegerList : Tok::FloatList);
        t.list = p_;
        t.count = n;
        p_ += size_t(n) * element;
        return t;
      }
      case 10:
        return Make(Tok::OBrace);
      case 11:
        return Make(Tok::CBrace);
      case 19:
        return Make(Tok::Comma);
      case 20:
        return Make(Tok::Semicolon);
      case 31:
        return Make(Tok::Template);
      default:
        if ((token >= 12 && token <= 18) || (token >= 40 && token <= 52)) return Make(Tok::Other);
        return Make(Tok::Error);
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  bool binary_;
  int floatBytes_;
  Token peek_;
  bool peeked_ = false;
};

struct PendingReference {
  uint32_t parent;
  size_t child;  // index in the parent's children
  std::string name;
  bool hasUuid;
  GUID uuid;
};

class Parser {
 public:
  Parser(Lexer* lexer, Document* doc) : lex_(*lexer), doc_(*doc) {}

  bool Run() {
    for (;;) {
      const Token t = lex_.Next();
      switch (t.kind) {
        case Tok::End:
          return Resolve();
        case Tok::Template:
          if (!SkipTemplate()) return false;
          break;
        case Tok::Name: {
          uint32_t index;
          if (!ParseObject(t.text, &index)) return false;
          doc_.topLevel.push_back(index);
          break;
        }
        case Tok::Comma:
        case Tok::Semicolon:
          break;
        default:
          return Fail("unexpected token at the top level");
      }
    }
  }

  const std::string& Why() const { return why_; }

 private:
  bool Fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }

  // template Name { <UUID> members [restrictions] }: nothing inside is kept, but the braces must
  // balance.
  bool SkipTemplate() {
    if (lex_.Next().kind != Tok::Name) return Fail("template without a name");
    if (lex_.Next().kind != Tok::OBrace) return Fail("template without its opening brace");
    for (int depth = 1; depth > 0;) {
      const Token t = lex_.Next();
      if (t.kind == Tok::End || t.kind == Tok::Error) return Fail("unterminated template");
      if (t.kind == Tok::OBrace) {
        if (++depth > kMaxDepth) return Fail("template nested too deeply");
      } else if (t.kind == Tok::CBrace) {
        --depth;
      }
    }
    return true;
  }

  bool ParseObject(std::string_view templateName, uint32_t* index) {
    if (depth_ >= kMaxDepth) return Fail("data objects nested too deeply");
    ++depth_;
    const uint32_t self = uint32_t(doc_.objects.size());
    doc_.objects.emplace_back();
    doc_.objects[self].templateName.assign(templateName);
    Token t = lex_.Next();
    if (t.kind == Tok::Name) {
      doc_.objects[self].name.assign(t.text);
      t = lex_.Next();
    }
    if (t.kind != Tok::OBrace) return Fail("data object without its opening brace");
    if (lex_.Peek().kind == Tok::Guid) {
      doc_.objects[self].hasUuid = true;
      doc_.objects[self].uuid = lex_.Next().guid;
    }
    for (;;) {
      t = lex_.Next();
      Object& obj = doc_.objects[self];
      switch (t.kind) {
        case Tok::Number:
          obj.values.push_back(Value{t.number, -1});
          break;
        case Tok::IntegerList:
          for (uint32_t i = 0; i < t.count; ++i)
            obj.values.push_back(Value{double(Read32(t.list + 4 * size_t(i))), -1});
          break;
        case Tok::FloatList:
          for (uint32_t i = 0; i < t.count; ++i) {
            double v;
            if (lex_.FloatBytes() == 8) {
              std::memcpy(&v, t.list + 8 * size_t(i), 8);
            } else {
              float f;
              std::memcpy(&f, t.list + 4 * size_t(i), 4);
              v = f;
            }
            obj.values.push_back(Value{v, -1});
          }
          break;
        case Tok::String:
          obj.values.push_back(Value{0.0, int32_t(doc_.strings.size())});
          doc_.strings.emplace_back(t.text);
          if (doc_.strings.size() > 0x7FFFFFFF) return Fail("too many strings");
          break;
        case Tok::Comma:
        case Tok::Semicolon:
          break;
        case Tok::Name: {
          uint32_t child;
          if (!ParseObject(t.text, &child)) return false;
          doc_.objects[self].children.push_back(Child{child, false});
          break;
        }
        case Tok::OBrace:
          if (!ParseReference(self)) return false;
          break;
        case Tok::CBrace:
          --depth_;
          *index = self;
          return true;
        case Tok::End:
          return Fail("file ends inside a data object");
        default:
          return Fail("unexpected token in a data object");
      }
    }
  }

  // { name }, { name <UUID> } or { <UUID> }, after the opening brace.
  bool ParseReference(uint32_t parent) {
    PendingReference ref{parent, doc_.objects[parent].children.size(), {}, false, {}};
    Token t = lex_.Next();
    if (t.kind == Tok::Name) {
      ref.name.assign(t.text);
      t = lex_.Next();
    }
    if (t.kind == Tok::Guid) {
      ref.hasUuid = true;
      ref.uuid = t.guid;
      t = lex_.Next();
    }
    if (t.kind != Tok::CBrace || (ref.name.empty() && !ref.hasUuid))
      return Fail("malformed reference");
    doc_.objects[parent].children.push_back(Child{0, true});
    pending_.push_back(std::move(ref));
    return true;
  }

  // A reference names the first object of that name anywhere in the file; one with only a UUID
  // names the first object with that UUID.
  bool Resolve() {
    std::unordered_map<std::string_view, uint32_t> byName;
    for (uint32_t i = 0; i < doc_.objects.size(); ++i)
      if (!doc_.objects[i].name.empty()) byName.emplace(doc_.objects[i].name, i);
    for (const PendingReference& ref : pending_) {
      uint32_t target = UINT32_MAX;
      if (!ref.name.empty()) {
        const auto it = byName.find(ref.name);
        if (it != byName.end()) target = it->second;
      } else {
        for (uint32_t i = 0; i < doc_.objects.size() && target == UINT32_MAX; ++i)
          if (doc_.objects[i].hasUuid && std::memcmp(&doc_.objects[i].uuid, &ref.uuid, 16) == 0)
            target = i;
      }
      if (target == UINT32_MAX) return Fail("reference to an object the file does not have");
      doc_.objects[ref.parent].children[ref.child].object = target;
    }
    return true;
  }

  Lexer& lex_;
  Document& doc_;
  int depth_ = 0;
  std::vector<PendingReference> pending_;
  std::string why_;
};

bool Digits(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] < '0' || p[i] > '9') return false;
  return true;
}

}  // namespace

HRESULT ParseDocument(const void* data, size_t size, Document* doc, std::string* why) {
  if (why) why->clear();
  *doc = Document{};
  auto fail = [&](const std::string& message) {
    if (why) *why = message;
    *doc = Document{};
    return D3DXERR_INVALIDDATA;
  };
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!bytes || size < kHeaderBytes) return fail("no DirectX file header");
  // "xof " major minor (two digits each), format, float size.
  if (std::memcmp(bytes, "xof ", 4) != 0 || !Digits(bytes + 4, 4))
    return fail("not a DirectX file");
  const std::string_view format(reinterpret_cast<const char*>(bytes + 8), 4);
  if (format == "txt ") {
    doc->binary = false;
  } else if (format == "bin ") {
    doc->binary = true;
  } else if (format == "tzip") {
    doc->compressed = true;
  } else if (format == "bzip") {
    doc->binary = doc->compressed = true;
  } else {
    return fail("unknown DirectX file format");
  }
  const std::string_view floats(reinterpret_cast<const char*>(bytes + 12), 4);
  if (floats == "0032") {
    doc->floatBits = 32;
  } else if (floats == "0064") {
    doc->floatBits = 64;
  } else {
    return fail("unknown float size");
  }

  try {
    std::vector<uint8_t> inflated;
    const uint8_t* body = bytes + kHeaderBytes;
    size_t bodySize = size - kHeaderBytes;
    if (doc->compressed) {
      std::string message;
      if (!InflateMsZip(body, bodySize, &inflated, &message)) return fail(message);
      body = inflated.data();
      bodySize = inflated.size();
    }
    Lexer lexer(body, bodySize, doc->binary, doc->floatBits / 8);
    Parser parser(&lexer, doc);
    if (!parser.Run()) return fail(parser.Why());
  } catch (const std::bad_alloc&) {
    *doc = Document{};
    if (why) *why = "out of memory";
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

}  // namespace xfile
