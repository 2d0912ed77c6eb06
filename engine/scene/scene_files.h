// Helpers the scene loaders share: recording a failed load, and reading the texture files that
// .x files name.
#pragma once

#include <cstdint>
#include <string>

#include "d3d9.h"

// Records a failed load: LastError 20 and LastErrorText "<path>: <reason>".
void RecordLoadError(const char* path, const char* reason);

// Whether `path` names a regular file that can be opened for reading.
bool FileReadable(const char* path);

// A loader's first check: a file name is given and the file can be read. On failure records why
// (RecordLoadError) and returns false.
bool CheckLoadable(const char* fileName);

// A managed texture from the picture file a .x file names: looked for beside the .x file first,
// then as given. Windows separators in the name are accepted. Null when no file can be read or
// decoded.
IDirect3DTexture9* LoadTextureNamedBy(const char* xFile, const char* name);
