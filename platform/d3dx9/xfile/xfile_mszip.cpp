// MSZip as compressed .x files use it: a DWORD with the size of the whole decompressed file
// (its 16-byte header included), then blocks of a WORD uncompressed size (at most 32 KB), a WORD
// compressed size that counts the "CK" signature, "CK", and raw deflate data. Each block is a
// deflate stream of its own whose window starts with the output of the blocks before it.
#include <zlib.h>

#include <algorithm>
#include <new>

#include "d3dx9/xfile/xfile_document.h"

namespace xfile {

namespace {

constexpr size_t kMaxBlock = 0x8000;
constexpr size_t kHeaderBytes = 16;

struct Inflater {
  z_stream zs{};
  bool open = false;
  ~Inflater() {
    if (open) inflateEnd(&zs);
  }
};

uint32_t Read16(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Read32(const uint8_t* p) {
  return Read16(p) | Read16(p + 2) << 16;
}

bool Fail(std::string* why, const char* message) {
  if (why) *why = message;
  return false;
}

}  // namespace

bool InflateMsZip(const uint8_t* data, size_t size, std::vector<uint8_t>* out, std::string* why) {
  out->clear();
  if (size < 4) return Fail(why, "compressed file: no size");
  const uint32_t total = Read32(data);
  if (total < kHeaderBytes) return Fail(why, "compressed file: size smaller than the header");
  const size_t expected = total - kHeaderBytes;
  if (expected > kMaxDecompressedBytes) return Fail(why, "compressed file: too large");
  Inflater inf;
  if (inflateInit2(&inf.zs, -MAX_WBITS) != Z_OK) return Fail(why, "compressed file: no inflater");
  inf.open = true;
  size_t pos = 4;
  try {
    while (pos < size) {
      if (size - pos < 6) return Fail(why, "compressed file: truncated block header");
      const size_t blockSize = Read16(data + pos);
      const size_t packedSize = Read16(data + pos + 2);
      pos += 4;
      if (blockSize == 0 || blockSize > kMaxBlock)
        return Fail(why, "compressed file: bad block size");
      if (packedSize < 2 || packedSize > size - pos)
        return Fail(why, "compressed file: truncated block");
      if (data[pos] != 'C' || data[pos + 1] != 'K')
        return Fail(why, "compressed file: block without its CK signature");
      if (blockSize > expected - out->size())
        return Fail(why, "compressed file: more data than the header says");
      if (inflateReset(&inf.zs) != Z_OK) return Fail(why, "compressed file: inflater reset");
      if (!out->empty()) {
        const size_t window = std::min(out->size(), kMaxBlock);
        if (inflateSetDictionary(&inf.zs, out->data() + out->size() - window, uInt(window)) != Z_OK)
          return Fail(why, "compressed file: dictionary");
      }
      const size_t start = out->size();
      out->resize(start + blockSize);
      inf.zs.next_in = const_cast<Bytef*>(data + pos + 2);
      inf.zs.avail_in = uInt(packedSize - 2);
      inf.zs.next_out = out->data() + start;
      inf.zs.avail_out = uInt(blockSize);
      const int ret = inflate(&inf.zs, Z_FINISH);
      // The block must fill exactly its stated size; a stream left unfinished at that point is
      // accepted (some writers flush instead of finishing).
      if (inf.zs.avail_out != 0 || (ret != Z_STREAM_END && ret != Z_OK && ret != Z_BUF_ERROR))
        return Fail(why, "compressed file: corrupt deflate data");
      pos += packedSize;
    }
  } catch (const std::bad_alloc&) {
    out->clear();
    return Fail(why, "compressed file: out of memory");
  }
  if (out->size() != expected) return Fail(why, "compressed file: less data than the header says");
  return true;
}

}  // namespace xfile
