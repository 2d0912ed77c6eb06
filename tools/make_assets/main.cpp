// make_assets: writes the 3D showcase's assets into a directory, the same bytes on every run.
//
//   make_assets DIR
//
// figure.x (a skinned, animated humanoid), prop.x (a barrel), and the PNG textures floor.png,
// prop.png, figure.png, spark0.png .. spark7.png and smoke.png. The repository keeps the output
// in assets/showcase.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "assets.h"

namespace {

bool Write(const std::filesystem::path& dir, const assets::File& file) {
  if (file.bytes.empty()) {
    std::fprintf(stderr, "make_assets: could not make %s\n", file.name.c_str());
    return false;
  }
  const std::filesystem::path path = dir / file.name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.bytes.data()),
            static_cast<std::streamsize>(file.bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_assets: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), file.bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_assets DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "make_assets: cannot create %s: %s\n", dir.c_str(),
                 error.message().c_str());
    return 1;
  }
  assets::FigureStats stats;
  std::vector<assets::File> files = {assets::MakeFigure(&stats), assets::MakeProp()};
  for (assets::File& f : assets::MakeTextures()) files.push_back(std::move(f));
  bool ok = true;
  for (const assets::File& f : files) ok = Write(dir, f) && ok;
  std::printf(
      "figure: %zu vertices, %zu triangles, %zu bones; vertices with 1-4 influences: %zu %zu "
      "%zu %zu; at most %d bones per triangle\n",
      stats.vertices, stats.faces, stats.bones, stats.influencesByCount[1],
      stats.influencesByCount[2], stats.influencesByCount[3], stats.influencesByCount[4],
      stats.maxPerFace);
  return ok ? 0 : 1;
}
