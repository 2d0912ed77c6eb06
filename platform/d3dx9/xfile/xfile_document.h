// The DirectX file format read into a tree of data objects, with no knowledge of what the
// templates mean: text and binary encodings, 32- and 64-bit floats, MSZip-compressed files.
// Template declarations are checked for balance and skipped; data objects keep their template
// name, optional name and UUID, their values in file order (numbers and strings) and their
// children (nested objects and references, resolved by name or UUID).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "windows.h"

namespace xfile {

// Nesting of data objects deeper than this is refused.
constexpr int kMaxDepth = 128;
// Decompressed size accepted from an MSZip file.
constexpr size_t kMaxDecompressedBytes = size_t{64} << 20;

struct Value {
  double number;
  int32_t string;  // index into Document::strings, or -1 for a number
};

struct Child {
  uint32_t object;  // the nested object, or the one a reference names
  bool reference;
};

struct Object {
  std::string templateName;
  std::string name;
  bool hasUuid = false;
  GUID uuid{};
  std::vector<Value> values;
  std::vector<Child> children;
};

struct Document {
  bool binary = false;
  bool compressed = false;
  int floatBits = 32;
  std::vector<Object> objects;  // every object, nested ones included
  std::vector<uint32_t> topLevel;
  std::vector<std::string> strings;
};

// Parses a whole file. D3DXERR_INVALIDDATA for anything that breaks the format (bad header,
// truncation, unbalanced braces, unknown tokens, too deep, references to nothing, a bad MSZip
// stream), E_OUTOFMEMORY when memory runs out. `why` (optional) names the first problem.
HRESULT ParseDocument(const void* data, size_t size, Document* doc, std::string* why = nullptr);

// MSZip: the bytes after the 16-byte header of a "tzip"/"bzip" file, inflated (without the
// header). False for a malformed or oversized stream.
bool InflateMsZip(const uint8_t* data, size_t size, std::vector<uint8_t>* out, std::string* why);

}  // namespace xfile
