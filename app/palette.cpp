// The palette sprites, the body drawing and the heads-up line. Call sites only so far: they are
// filled in together with the engine's sprites.
#include "app/demo.h"

// Will draw a plus sign per palette colour into a 3 x 3 image and make a sprite of each.
void BuildPalette() {}

// Will queue one DrawSprite per shape of the active hash whose user data is a palette sprite.
void DrawShapes() {}

// Will queue "FPS: <frame rate> Objekte: <BodyCount>" at (200, 560).
void DrawHud() {}
