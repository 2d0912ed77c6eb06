// The sprite pass of the frame.
#pragma once

// Draws and empties SpriteDrawQueue, sprite by sprite in SpriteList order. Returns 0.
int DrawSprites();
