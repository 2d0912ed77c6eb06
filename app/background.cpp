// The shader-generated background. Call site only so far: it is filled in together with the
// engine's texture shaders and screen images.
#include "app/demo.h"

// Will fill a 64 x 64 texture with the background shader and stretch it over the window.
void PrepareBackground() {}
