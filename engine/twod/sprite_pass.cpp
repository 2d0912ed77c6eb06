#include "engine/twod/sprite_pass.h"

#include "engine/core/engine_state.h"

// Serves SpriteList and its SpriteDrawQueue; drawing comes with the sprites.
int DrawSprites() {
  Engine.SpriteList.Reset();
  while (Engine.SpriteList.Next() != nullptr) {
  }
  return 0;
}
