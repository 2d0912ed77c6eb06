// Screen images: pictures copied straight onto the back buffer every frame, before any other
// drawing of the scene.
#pragma once

#include <cstdint>

#include "engine/twod/screen_image_pass.h"
#include "engine/twod/twod_records.h"

// A new, invisible screen image holding a copy of the texture's picture, placed at (0, 0) at its
// own size. 0 (and LastError 18) when it cannot be made; 0 for an unknown texture.
ScreenImage* CreateScreenImage(Texture* texture);
// Places the image at (x, y) at its own size, clipped to the viewport; it is drawn while
// `visible`'s low byte is exactly 1. 1, or 0 for an unknown image.
int PlaceScreenImage(ScreenImage* image, int32_t x, int32_t y, int32_t visible);
// Stretches the picture into (left, top)-(right, bottom), clipped to the viewport; the visible
// flag is kept. 1, or 0 for an unknown image.
int StretchScreenImage(ScreenImage* image, int32_t left, int32_t top, int32_t right,
                       int32_t bottom);

// Around a device reset: default-pool surfaces block Reset, so they are released before it and
// rebuilt from each image's kept picture once the device is usable again.
void ReleaseScreenImageSurfaces();
void RestoreScreenImageSurfaces();
