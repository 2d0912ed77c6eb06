#include "engine/twod/screen_image_pass.h"

#include "engine/core/engine_state.h"

// Serves ScreenImageList; the blit itself comes with the screen images.
int DrawScreenImages() {
  Engine.ScreenImageList.Reset();
  while (Engine.ScreenImageList.Next() != nullptr) {
  }
  return 0;
}
