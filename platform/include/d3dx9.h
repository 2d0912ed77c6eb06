// D3DX 9: math, sprites, fonts, buffers, textures and image files, shaders, meshes, animation and
// effects.
#pragma once

#include "d3d9.h"
#include "d3dx9math.h"
#include "d3dx9core.h"
#include "d3dx9tex.h"
#include "d3dx9shader.h"
#include "d3dx9mesh.h"
#include "d3dx9anim.h"
#include "d3dx9effect.h"
