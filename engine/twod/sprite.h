// Sprites: textured screen quads drawn through D3DX sprite batches from a deferred queue.
#pragma once

#include <cstdint>

#include "engine/twod/sprite_pass.h"
#include "engine/twod/twod_records.h"

// A new sprite of the texture, which is colour-keyed first (opaque black becomes transparent, for
// every user of the texture). 0 for an unknown texture or when no D3DX sprite can be made.
Sprite* CreateSprite(Texture* texture);
// Sets the rotation used by the sprite's later draws: degrees times the float 0.017453. 1, or 0
// for an unknown sprite.
int RotateSprite(Sprite* sprite, float angleDegrees);
// Queues the sprite at (x, y) fully opaque; the result of DrawSpriteWithAlpha.
int DrawSprite(Sprite* sprite, int32_t x, int32_t y);
// Queues the sprite with its top-left corner at (x, y) and alpha & 0xFF, taking a snapshot of its
// rotation, scale and blend factors. 1 when queued, 0 for an unknown sprite.
int DrawSpriteWithAlpha(Sprite* sprite, int32_t x, int32_t y, int32_t alpha);
// Draws the queued commands of one sprite and removes them from the queue (part of the pass).
int DrawSpriteCommands(Sprite* sprite);
