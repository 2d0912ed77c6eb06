// The animated-mesh pass of the frame.
#pragma once

// Advances, skins and draws every AnimatedMesh.
void DrawAnimatedMeshes();
