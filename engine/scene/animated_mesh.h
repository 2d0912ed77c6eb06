// Animated meshes: frame hierarchies loaded from .x files into the records the animated-mesh pass
// reads (AnimationFrame, MeshContainer with their material, texture, bone offset and bone matrix
// tables, and a skinned copy of every skinned mesh), their animation controller, and the choice
// of animation and its speed. Every operation first finds the record in AnimatedMeshList and
// does nothing (result 0) when it is not there.
#pragma once

#include <cstdint>

#include "engine/scene/animated_mesh_pass.h"
#include "engine/scene/scene_records.h"

// The frames, meshes, skin weights and animation sets of an .x file. Meshes are managed; texture
// files the materials name are looked for beside the .x file, then as named (one that cannot be
// read leaves its material untextured and sets LastError 18, the load goes on); a mesh without
// materials gets one white material. The first skinned mesh container is the one the pass skins;
// every bone must name a frame of the file. The first animation set plays on track 0, when the
// file has any. The record stands at the origin with time scale 1. 0 and LastError 20
// (LastErrorText names the file and the reason) for a file that is missing, malformed, holds no
// frame or mesh, or has a bone without its frame; 0 without a device. Nothing is kept from a load
// that fails.
AnimatedMesh* LoadAnimatedMesh(const char* fileName);
// Plays the animation set of that name on track 0 from its start. 0 for a record without a
// controller or a name the file does not have.
int SetAnimatedMeshAnimation(AnimatedMesh* mesh, const char* name);
// The playing track's speed (finite; 1 normal, 0 stopped, negative plays backwards).
int SetAnimatedMeshSpeed(AnimatedMesh* mesh, float speed);
// The record's time scale: the frame time is divided by it (finite and more than 0).
int SetAnimatedMeshTimeScale(AnimatedMesh* mesh, float scale);
// Where the model stands. The pass adds the world's translation twice, so half of it is stored.
int PositionAnimatedMesh(AnimatedMesh* mesh, float x, float y, float z);
// Turns (yaw, pitch, roll in degrees) and uniformly scales (finite, not 0) the model; the position
// stays.
int OrientAnimatedMesh(AnimatedMesh* mesh, float yawDegrees, float pitchDegrees, float rollDegrees,
                       float scale);
// Destroys the hierarchy this module loaded (frames, containers, meshes, textures, tables), the
// bone matrices and the controller, and removes the record. A record placed in the list by other
// code loses its controller only: its hierarchy is not ours. 1, or 0 for a record not listed.
int ReleaseAnimatedMesh(AnimatedMesh* mesh);

// Destroys every hierarchy this module loaded and releases the controllers of their records (the
// engine is shutting down; the records go with the lists).
void DiscardAnimatedMeshes();
