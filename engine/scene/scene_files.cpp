#include "engine/scene/scene_files.h"

#include <sys/stat.h>

#include <cstdio>

#include "d3dx9.h"
#include "engine/core/engine_state.h"

namespace {

IDirect3DTexture9* TextureFromFile(const std::string& path) {
  IDirect3DTexture9* texture = nullptr;
  if (Engine.Device == nullptr || !FileReadable(path.c_str()) ||
      FAILED(D3DXCreateTextureFromFileA(Engine.Device, path.c_str(), &texture))) {
    return nullptr;
  }
  return texture;
}

}  // namespace

void RecordLoadError(const char* path, const char* reason) {
  Engine.LastError = kEngineObjectLoad;
  Engine.LastErrorText = std::string(path != nullptr ? path : "(no file name)") + ": " + reason;
}

bool FileReadable(const char* path) {
  struct stat info {};
  if (path == nullptr || path[0] == '\0' || stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool CheckLoadable(const char* fileName) {
  if (fileName == nullptr || fileName[0] == '\0') {
    RecordLoadError(fileName, "no file name");
    return false;
  }
  if (!FileReadable(fileName)) {
    RecordLoadError(fileName, "the file cannot be opened");
    return false;
  }
  return true;
}

IDirect3DTexture9* LoadTextureNamedBy(const char* xFile, const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  std::string file(name);
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  if (file[0] != '/' && xFile != nullptr) {
    const std::string from(xFile);
    const size_t slash = from.rfind('/');
    if (slash != std::string::npos) {
      if (IDirect3DTexture9* beside = TextureFromFile(from.substr(0, slash + 1) + file)) {
        return beside;
      }
    }
  }
  return TextureFromFile(file);
}
