// The showcase's asset generators. Each returns the bytes of one file, built only from code and
// fixed numbers, so every run writes the same files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assets {

// A file to write: its name within the output directory and its contents.
struct File {
  std::string name;
  std::vector<uint8_t> bytes;
};

// What the figure generator reports about what it made.
struct FigureStats {
  size_t vertices = 0;
  size_t faces = 0;
  size_t bones = 0;
  size_t influencesByCount[5] = {};  // vertices with 1..4 influences at [1]..[4]
  int maxPerFace = 0;
};

// Where prop.x's texture coordinates fall in prop.png, shared by the mesh and the picture: the
// barrel's side runs from v = kPropSideTop (its top) to kPropSideBottom, with iron hoops at the
// heights (fractions of the barrel's height) in kPropHoops; end grain lies above and below the
// side; the lids are a disc of radius kPropLidRadius around (kPropLidU, kPropLidV).
constexpr float kPropSideTop = 0.035f;
constexpr float kPropSideBottom = 0.465f;
constexpr float kPropHoops[4] = {0.1f, 0.25f, 0.75f, 0.9f};
constexpr float kPropHoopHalfHeight = 0.025f;
constexpr int kPropStaves = 16;
constexpr float kPropLidU = 0.25f, kPropLidV = 0.75f, kPropLidRadius = 0.23f;

// figure.x: the skinned, animated figure (uses figure.png).
File MakeFigure(FigureStats* stats);
// prop.x: the textured barrel (uses prop.png).
File MakeProp();

// The PNG textures: floor.png, prop.png, figure.png, spark0.png .. spark7.png and smoke.png.
std::vector<File> MakeTextures();

}  // namespace assets
