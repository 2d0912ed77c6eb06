// Whole files read for the D3DX loaders that take a file name.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9types.h"

namespace vexa {

// Appends the file's bytes to `out`. D3DXERR_INVALIDDATA when it cannot be opened or read (a
// directory, say) or is larger than the in-memory loaders take (a UINT of bytes); E_OUTOFMEMORY.
HRESULT ReadFileBytes(const char* path, std::vector<uint8_t>* out);

}  // namespace vexa
