// Feeds arbitrary bytes to the image-file paths that need no device: the header query of
// D3DXGetImageInfoFromFileInMemory and the full BMP/PNG decoder behind the texture loaders.
// Any crash, sanitizer report, leak or hang is a finding; so is a decoder result that disagrees
// with the header query.
#include <cstdint>
#include <cstdlib>

#include "d3dx9.h"
// The decoder is internal to the platform library; the fuzzer reaches it by path.
#include "../../platform/d3dx9/image_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  D3DXIMAGE_INFO info{};
  const HRESULT hr = D3DXGetImageInfoFromFileInMemory(size ? data : nullptr, UINT(size), &info);
  if (SUCCEEDED(hr) && (info.Width == 0 || info.Height == 0 || info.Width > d3dx::kMaxImageSide ||
                        info.Height > d3dx::kMaxImageSide))
    std::abort();

  d3dx::ImageFileInfo fileInfo;
  d3dx::ArgbImage image;
  if (d3dx::DecodeImageFile(data, size, &fileInfo, &image)) {
    // A file that decodes must have a valid header with the same size.
    if (FAILED(hr) || info.Width != image.width || info.Height != image.height ||
        image.pixels.size() != size_t{image.width} * image.height)
      std::abort();
  } else if (!image.pixels.empty()) {
    std::abort();  // a failed decode leaves nothing behind
  }
  return 0;
}
