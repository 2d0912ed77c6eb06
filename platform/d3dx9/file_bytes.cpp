#include "d3dx9/file_bytes.h"

#include <cstdio>
#include <new>

#include "d3dx9.h"

namespace vexa {

HRESULT ReadFileBytes(const char* path, std::vector<uint8_t>* out) {
  if (path == nullptr || out == nullptr) return D3DERR_INVALIDCALL;
  FILE* f = std::fopen(path, "rb");
  if (!f) return D3DXERR_INVALIDDATA;
  HRESULT hr = D3D_OK;
  try {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
      if (out->size() + n > 0xFFFFFFFFu) {
        hr = D3DXERR_INVALIDDATA;
        break;
      }
      out->insert(out->end(), chunk, chunk + n);
    }
    if (std::ferror(f)) hr = D3DXERR_INVALIDDATA;
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  std::fclose(f);
  return hr;
}

}  // namespace vexa
