// The shadow-mapped mesh pass, run instead of the mesh pass while ShadowMapping is set.
#pragma once

// Draws every Mesh twice through ShadowEffect: into the shadow map, then into the scene.
void DrawMeshesShadowMapped();
