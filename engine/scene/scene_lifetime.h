// What the engine's shutdown and device reset do for the 3D records the scene operations make.
#pragma once

// Destroys what the scene operations keep beside the lists (loaded frame hierarchies, bone
// matrices, mesh side state, buffers waiting for a reset). The engine runs it before it
// releases the records of its lists and empties them.
void DiscardSceneRecords();
// Before Reset: releases the scene's default-pool resources, which would make Reset fail.
void ReleaseSceneDeviceResources();
// After a successful Reset: makes them again.
void RestoreSceneDeviceResources();
