// Direct3D 9: the device, surfaces, textures, vertex buffers.
#pragma once

#include "windows.h"
